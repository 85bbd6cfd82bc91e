#pragma once

#include <any>
#include <asio/ip/address.hpp>
#include <boost/serialization/split_member.hpp>
#include <boost/serialization/string.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vela::iam
{

/// How the asking party reached the middleware: a remote peer or a local process.
enum class Transport : int
{
    tcpip = 0,
    posix = 1,
    unknown = 2
};

/// The SOME/IP operation an access check is about.
enum class Operation : int
{
    Provide_service = 0,
    Use_service = 1,
    Call_method = 2,
    Subscribe_event = 3
};

/// The answer of one access check.
enum class Decision : std::uint8_t
{
    denied = 0,
    allowed = 1,
    error = 2
};

/// Transport names; "TCPIP" and "POSIX" are also the tags that start a request on the wire.
inline constexpr const char* transport_tcpip_name = "TCPIP";
inline constexpr const char* transport_posix_name = "POSIX";
inline constexpr const char* transport_unknown_name = "UNKNOWN";

/// Length of the tag in front of a request's archive.
inline constexpr std::size_t transport_tag_length = 5;

namespace identifier
{

/// A local process.
struct Identifier_posix
{
    std::int32_t pid{0};
    std::uint32_t uid{0};
    std::uint32_t gid{0};

    template <typename Archive> void serialize(Archive& archive, const unsigned int /*version*/)
    {
        archive& pid;
        archive& uid;
        archive& gid;
    }
};

/// A remote peer; the address travels as its text form (dotted IPv4, or IPv6 with "%scope").
struct Identifier_tcpip
{
    std::uint16_t port{0};
    asio::ip::address address;

    template <typename Archive> void save(Archive& archive, const unsigned int /*version*/) const
    {
        const std::string text = address.to_string();
        archive << port;
        archive << text;
    }

    template <typename Archive> void load(Archive& archive, const unsigned int /*version*/)
    {
        std::string text;
        archive >> port;
        archive >> text;
        // Throws asio::system_error (a std::exception) for text that is no address.
        address = asio::ip::make_address(text);
    }

    BOOST_SERIALIZATION_SPLIT_MEMBER()
};

} // namespace identifier

namespace iam_internal_if
{

/// The SOME/IP interface element concerned; member_id is the method id of Call_method and the
/// event(-group) id of Subscribe_event.
struct Service_someip_ifc
{
    std::uint32_t service_id{0};
    std::uint16_t member_id{0};
    Operation operation{Operation::Provide_service};

    template <typename Archive> void serialize(Archive& archive, const unsigned int /*version*/)
    {
        archive& operation;
        archive& service_id;
        archive& member_id;
    }
};

} // namespace iam_internal_if

/// Access check of a local process (egress).
struct Check_request_posix
{
    identifier::Identifier_posix identifier;
    iam_internal_if::Service_someip_ifc service;

    template <typename Archive> void serialize(Archive& archive, const unsigned int /*version*/)
    {
        archive& identifier;
        archive& service;
    }
};

/// Access check of a remote peer (ingress).
struct Check_request_tcpip
{
    identifier::Identifier_tcpip identifier;
    iam_internal_if::Service_someip_ifc service;

    template <typename Archive> void serialize(Archive& archive, const unsigned int /*version*/)
    {
        archive& identifier;
        archive& service;
    }
};

/// A decoded request of either transport.
class Check_request
{
  public:
    virtual ~Check_request() = default;
    /// A new copy of the wrapped transport-specific request, owned by the caller
    /// (a Check_request_tcpip or a Check_request_posix).
    virtual std::any request() const = 0;
    virtual Transport transport() const = 0;
    virtual const char* transport_name() const = 0;
};

template <typename T> struct Transport_of;

template <> struct Transport_of<Check_request_tcpip>
{
    static constexpr Transport value = Transport::tcpip;
    static constexpr const char* name = transport_tcpip_name;
};

template <> struct Transport_of<Check_request_posix>
{
    static constexpr Transport value = Transport::posix;
    static constexpr const char* name = transport_posix_name;
};

/// A request of one transport; the archive holds only the wrapped request.
template <typename T> class Check_requestT final : public Check_request
{
  public:
    Check_requestT() = default;
    explicit Check_requestT(T wrapped)
        : m_request(std::move(wrapped))
    {
    }

    std::any request() const override { return std::any(m_request); }
    Transport transport() const override { return Transport_of<T>::value; }
    const char* transport_name() const override { return Transport_of<T>::name; }

    const T& wrapped() const noexcept { return m_request; }

    template <typename Archive> void serialize(Archive& archive, const unsigned int /*version*/) { archive& m_request; }

  private:
    T m_request;
};

/// The daemon's answer.
struct Check_response
{
    Decision decision{Decision::denied};

    template <typename Archive> void serialize(Archive& archive, const unsigned int /*version*/) { archive& decision; }
};

/// Decodes a request text: the tag "POSIX" or "TCPIP" followed by a text archive of one
/// Check_requestT. Throws std::invalid_argument "Invalid message to deserialize" for any other
/// start, and a std::exception for every archive error. No length inside the archive may exceed
/// what a request of at most 1023 bytes can hold; such a length fails before anything is
/// allocated for it.
std::unique_ptr<Check_request> decode_request(std::string_view text);

/// decode_request through the text input archive alone, for every text; decode_request gives the
/// same result or error for every text and reads the form that clients write without the archive.
std::unique_ptr<Check_request> decode_request_with_archive(std::string_view text);

/// Encodes a request the way clients send it: tag, then the text archive.
std::string encode_request(const Check_requestT<Check_request_posix>& request);
std::string encode_request(const Check_requestT<Check_request_tcpip>& request);

/// The text archive of one Check_response (without the zero byte that ends it on the wire).
std::string encode_response(const Check_response& response);

/// The encoded response of each decision, built once; what the sessions send.
const std::string& encoded_response(Decision decision);

/// Decodes a response text as clients do; throws a std::exception on a malformed one.
Check_response decode_response(std::string_view text);

} // namespace vela::iam
