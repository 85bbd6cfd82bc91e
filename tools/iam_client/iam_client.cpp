// iam_client: builds one access-check request from its arguments, sends it to the IAM daemon and
// prints the decision ("allowed", "denied" or "error").
//
//   iam_client [--socket PATH] posix <uid> <gid> <pid> <operation> <service_id> [member_id]
//   iam_client [--socket PATH] tcpip <address> <port> <operation> <service_id> [member_id]
//   iam_client [--socket PATH] --raw <text>
//
// Exit status: 0 allowed, 1 denied, 2 error, 3 bad arguments or no answer.

#include "iam/server.hpp"
#include "vela/iam/messages.hpp"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace
{

using namespace vela::iam;

constexpr int exit_usage = 3;

const char* const usage_text =
    "usage: iam_client [--socket PATH] posix <uid> <gid> <pid> <operation> <service_id> [member_id]\n"
    "       iam_client [--socket PATH] tcpip <address> <port> <operation> <service_id> [member_id]\n"
    "       iam_client [--socket PATH] --raw <text>\n"
    "operation: offer, find, call, subscribe (or a number, sent as it is)\n"
    "numbers: decimal, or hexadecimal with 0x\n"
    "prints allowed, denied or error; exit status 0 allowed, 1 denied, 2 error, 3 usage or no answer\n";

struct Usage_error
{
    std::string message;
};

template <typename Number> Number parse_number(const std::string& text, const char* what)
{
    Number value{};
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(begin, end, value, hex ? 16 : 10);
    if (begin == end || result.ec != std::errc() || result.ptr != end)
    {
        throw Usage_error{std::string("bad ") + what + ": " + text};
    }
    return value;
}

Operation parse_operation(const std::string& text)
{
    if (text == "offer")
    {
        return Operation::Provide_service;
    }
    if (text == "find")
    {
        return Operation::Use_service;
    }
    if (text == "call")
    {
        return Operation::Call_method;
    }
    if (text == "subscribe")
    {
        return Operation::Subscribe_event;
    }
    return static_cast<Operation>(parse_number<int>(text, "operation"));
}

iam_internal_if::Service_someip_ifc parse_service(const std::vector<std::string>& args, std::size_t first)
{
    iam_internal_if::Service_someip_ifc service;
    service.operation = parse_operation(args.at(first));
    service.service_id = parse_number<std::uint32_t>(args.at(first + 1), "service id");
    if (args.size() > first + 2)
    {
        service.member_id = parse_number<std::uint16_t>(args.at(first + 2), "member id");
    }
    return service;
}

std::string build_request(const std::vector<std::string>& args)
{
    if (args.size() == 2 && args[0] == "--raw")
    {
        return args[1];
    }
    if (args.size() >= 6 && args.size() <= 7 && args[0] == "posix")
    {
        Check_request_posix request;
        request.identifier.uid = parse_number<std::uint32_t>(args[1], "uid");
        request.identifier.gid = parse_number<std::uint32_t>(args[2], "gid");
        request.identifier.pid = parse_number<std::int32_t>(args[3], "pid");
        request.service = parse_service(args, 4);
        return encode_request(Check_requestT<Check_request_posix>(request));
    }
    if (args.size() >= 5 && args.size() <= 6 && args[0] == "tcpip")
    {
        Check_request_tcpip request;
        std::error_code error;
        request.identifier.address = asio::ip::make_address(args[1], error);
        if (error)
        {
            throw Usage_error{"bad address: " + args[1]};
        }
        request.identifier.port = parse_number<std::uint16_t>(args[2], "port");
        request.service = parse_service(args, 3);
        return encode_request(Check_requestT<Check_request_tcpip>(request));
    }
    throw Usage_error{"unexpected arguments"};
}

/// Sends request and returns the response text (without its zero byte); nullopt after printing
/// why there is none.
std::optional<std::string> ask_daemon(const std::string& path, const std::string& request)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
    {
        std::cerr << "iam_client: socket path too long: " << path << "\n";
        return std::nullopt;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
    {
        std::cerr << "iam_client: socket: " << std::generic_category().message(errno) << "\n";
        return std::nullopt;
    }
    struct Closer
    {
        int descriptor;
        ~Closer() { ::close(descriptor); }
    } closer{descriptor};

    timeval timeout{5, 0};
    (void)::setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
    {
        std::cerr << "iam_client: connect " << path << ": " << std::generic_category().message(errno) << "\n";
        return std::nullopt;
    }
    if (::send(descriptor, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
    {
        std::cerr << "iam_client: send: " << std::generic_category().message(errno) << "\n";
        return std::nullopt;
    }
    std::string response;
    char buffer[1024];
    while (response.find('\0') == std::string::npos)
    {
        const auto received = ::recv(descriptor, buffer, sizeof(buffer), 0);
        if (received <= 0)
        {
            std::cerr << "iam_client: no answer: "
                      << (received == 0 ? std::string("connection closed") : std::generic_category().message(errno))
                      << "\n";
            return std::nullopt;
        }
        response.append(buffer, static_cast<std::size_t>(received));
    }
    response.resize(response.find('\0'));
    return response;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string path = socket_path;
    if (args.size() >= 2 && args[0] == "--socket")
    {
        path = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty() || args[0] == "--help" || args[0] == "-h")
    {
        std::cout << usage_text;
        return args.empty() ? exit_usage : 0;
    }

    std::string request;
    try
    {
        request = build_request(args);
    }
    catch (const Usage_error& error)
    {
        std::cerr << "iam_client: " << error.message << "\n" << usage_text;
        return exit_usage;
    }

    const auto response = ask_daemon(path, request);
    if (!response)
    {
        return exit_usage;
    }
    try
    {
        switch (decode_response(*response).decision)
        {
        case Decision::allowed:
            std::cout << "allowed\n";
            return 0;
        case Decision::denied:
            std::cout << "denied\n";
            return 1;
        default:
            std::cout << "error\n";
            return 2;
        }
    }
    catch (const std::exception& error)
    {
        std::cerr << "iam_client: bad answer \"" << *response << "\": " << error.what() << "\n";
        return exit_usage;
    }
}
