#include "iam/messages.hpp"

#include "iam/bounded_text_iarchive.hpp"

#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>

#include <array>
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

template <typename Request>
std::unique_ptr<Check_request> load_request(std::string_view archive_text)
{
    Memory_streambuf buffer(archive_text);
    std::istream stream(&buffer);
    auto request = std::make_unique<Check_requestT<Request>>();
    Bounded_text_iarchive archive(stream, std::min(archive_text.size(), max_request_length));
    archive >> *request;
    return request;
}

template <typename Request>
std::string save_request(const char* tag, const Check_requestT<Request>& request)
{
    std::ostringstream stream;
    stream << tag;
    {
        boost::archive::text_oarchive archive(stream);
        archive << request;
    }
    return stream.str();
}

} // namespace

std::unique_ptr<Check_request> decode_request(std::string_view text)
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
