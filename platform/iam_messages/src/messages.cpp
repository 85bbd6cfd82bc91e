#include "vela/iam/messages.hpp"

#include "bounded_text_iarchive.hpp"

#include <array>
#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>
#include <charconv>
#include <cstring>
#include <istream>
#include <sstream>
#include <stdexcept>
#include <streambuf>

namespace vela::iam
{
namespace
{

/// The longest request a session hands over (its receive buffer less the full-buffer case).
constexpr std::size_t max_request_length = 1023;

/// Reads a character range in place, without copying it.
class Memory_streambuf final : public std::streambuf
{
  public:
    explicit Memory_streambuf(std::string_view text)
    {
        // std::streambuf wants char*; the range is only read.
        char* begin = const_cast<char*>(text.data()); // NOLINT(cppcoreguidelines-pro-type-const-cast)
        setg(begin, begin, begin + text.size());
    }
};

template <typename Request> std::unique_ptr<Check_request> load_request(std::string_view archive_text)
{
    Memory_streambuf buffer(archive_text);
    std::istream stream(&buffer);
    auto request = std::make_unique<Check_requestT<Request>>();
    Bounded_text_iarchive archive(stream, std::min(archive_text.size(), max_request_length));
    archive >> *request;
    return request;
}

template <typename Request> std::string save_request(const char* tag, const Check_requestT<Request>& request)
{
    std::ostringstream stream;
    stream << tag;
    {
        boost::archive::text_oarchive archive(stream);
        archive << request;
    }
    return stream.str();
}

/// Reads the archive text that this library's own output archive writes for a request, and
/// nothing else: exactly the header and class information it writes, single blanks, plain decimal
/// numbers in range. Wherever it accepts a text, the result equals that of the text input
/// archive; any other text (other spacing, another library version, a value out of range, an
/// address that does not convert) is left to the archive, which then decides and names the error.
/// Clients write this form, and reading it directly saves the archive's set-up per request.
class Canonical_reader final
{
  public:
    explicit Canonical_reader(std::string_view text)
        : m_text(text)
    {
    }

    bool literal(std::string_view expected)
    {
        if (m_text.substr(m_position, expected.size()) != expected)
        {
            return false;
        }
        m_position += expected.size();
        return true;
    }

    /// A decimal number of type Number, then (unless it is the last field) one blank.
    template <typename Number> bool number(Number& value, bool last = false)
    {
        const char* begin = m_text.data() + m_position;
        const char* end = m_text.data() + m_text.size();
        const auto result = std::from_chars(begin, end, value);
        if (result.ec != std::errc() || result.ptr == begin)
        {
            return false;
        }
        m_position += static_cast<std::size_t>(result.ptr - begin);
        return last || literal(" ");
    }

    /// A string stored as its length, one blank and its characters, then one blank.
    bool text(std::string_view& value)
    {
        std::size_t length = 0;
        if (!number(length) || length > m_text.size() - m_position)
        {
            return false;
        }
        value = m_text.substr(m_position, length);
        m_position += length;
        return literal(" ");
    }

  private:
    std::string_view m_text;
    std::size_t m_position{0};
};

/// The header and the class information of the three outer classes, as this library writes them
/// (taken from its own output once): "22 serialization::archive <version> 0 0 0 0 0 0 ".
const std::string& canonical_prefix()
{
    static const std::string prefix = []
    {
        constexpr std::int32_t marker = 192837465;
        Check_request_posix sample;
        sample.identifier.pid = marker;
        const std::string text = encode_request(Check_requestT<Check_request_posix>(sample));
        // everything before the pid
        return text.substr(transport_tag_length, text.find(std::to_string(marker)) - transport_tag_length);
    }();
    return prefix;
}

/// Class information of Service_someip_ifc at its first occurrence.
constexpr std::string_view service_class_info = "0 0 ";

bool read_service(Canonical_reader& reader, iam_internal_if::Service_someip_ifc& service)
{
    int operation = 0;
    if (!reader.literal(service_class_info) || !reader.number(operation) || !reader.number(service.service_id) ||
        !reader.number(service.member_id, true))
    {
        return false;
    }
    service.operation = static_cast<Operation>(operation);
    return true;
}

std::unique_ptr<Check_request> read_canonical_posix(std::string_view archive_text)
{
    Canonical_reader reader(archive_text);
    Check_request_posix request;
    if (!reader.literal(canonical_prefix()) || !reader.number(request.identifier.pid) ||
        !reader.number(request.identifier.uid) || !reader.number(request.identifier.gid) ||
        !read_service(reader, request.service))
    {
        return nullptr;
    }
    return std::make_unique<Check_requestT<Check_request_posix>>(request);
}

std::unique_ptr<Check_request> read_canonical_tcpip(std::string_view archive_text)
{
    Canonical_reader reader(archive_text);
    Check_request_tcpip request;
    std::string_view address;
    if (!reader.literal(canonical_prefix()) || !reader.number(request.identifier.port) || !reader.text(address) ||
        !read_service(reader, request.service))
    {
        return nullptr;
    }
    // 64 bytes hold every address text with a scope the conversion accepts
    char address_text[64];
    if (address.size() >= sizeof(address_text))
    {
        return nullptr;
    }
    address.copy(address_text, address.size());
    address_text[address.size()] = '\0';
    if (std::strlen(address_text) != address.size())
    {
        return nullptr;
    }
    std::error_code error;
    request.identifier.address = asio::ip::make_address(static_cast<const char*>(address_text), error);
    if (error)
    {
        return nullptr;
    }
    return std::make_unique<Check_requestT<Check_request_tcpip>>(request);
}

} // namespace

std::unique_ptr<Check_request> decode_request(std::string_view text)
{
    const std::string_view tag = text.substr(0, transport_tag_length);
    const std::string_view archive_text = text.substr(tag.size());
    if (tag == transport_posix_name)
    {
        auto request = read_canonical_posix(archive_text);
        return request ? std::move(request) : load_request<Check_request_posix>(archive_text);
    }
    if (tag == transport_tcpip_name)
    {
        auto request = read_canonical_tcpip(archive_text);
        return request ? std::move(request) : load_request<Check_request_tcpip>(archive_text);
    }
    throw std::invalid_argument("Invalid message to deserialize");
}

std::unique_ptr<Check_request> decode_request_with_archive(std::string_view text)
{
    const std::string_view tag = text.substr(0, transport_tag_length);
    const std::string_view archive_text = text.substr(tag.size());
    if (tag == transport_posix_name)
    {
        return load_request<Check_request_posix>(archive_text);
    }
    if (tag == transport_tcpip_name)
    {
        return load_request<Check_request_tcpip>(archive_text);
    }
    throw std::invalid_argument("Invalid message to deserialize");
}

std::string encode_request(const Check_requestT<Check_request_posix>& request)
{
    return save_request(transport_posix_name, request);
}

std::string encode_request(const Check_requestT<Check_request_tcpip>& request)
{
    return save_request(transport_tcpip_name, request);
}

std::string encode_response(const Check_response& response)
{
    std::ostringstream stream;
    {
        boost::archive::text_oarchive archive(stream);
        archive << response;
    }
    return stream.str();
}

const std::string& encoded_response(Decision decision)
{
    // The text of a response depends on nothing but its decision.
    static const std::array<std::string, 3> texts{encode_response(Check_response{Decision::denied}),
                                                  encode_response(Check_response{Decision::allowed}),
                                                  encode_response(Check_response{Decision::error})};
    const auto index = static_cast<std::size_t>(decision);
    return texts.at(index < texts.size() ? index : static_cast<std::size_t>(Decision::error));
}

Check_response decode_response(std::string_view text)
{
    Memory_streambuf buffer(text);
    std::istream stream(&buffer);
    Check_response response;
    Bounded_text_iarchive archive(stream, text.size());
    archive >> response;
    return response;
}

} // namespace vela::iam
