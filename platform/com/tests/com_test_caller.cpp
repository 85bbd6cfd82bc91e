// Helper program of the middleware tests: a consumer of the test service "tarn1::test::Echo" (see
// com_test_peer.cpp), run as a process of its own (and, by the access-control tests, of another
// user). It finds the instance given as first argument, prints "ready" (or "not found"), then
// follows command lines on standard input:
//   call METHOD HEX    calls the method with the payload bytes; prints "ok HEX", "denied",
//                      "unavailable" or "failed TEXT"
//   subscribe          subscribes to event 0; each value then arrives as "value HEX"
//   raw CLIENT TYPE ID sends a frame by hand over a connection of its own: the given client id,
//                      message type (hex: 0 request, f0 subscribe) and method or event id; prints
//                      the answer "reply TYPE CODE ID" (hex) or "no reply"
//   logged TEXT        prints "logged N", the number of log messages so far that contain TEXT
//   quit
#include "ara/log/testing/log_capture.h"
#include "kest/com/cpp_binding/rport.h"
#include "kest/com/exceptions.h"
#include "kest/com/runtime/component_singleton.h"
#include "kest/com/someip/serializer.h"
#include "platform/com/tests/echo_interface.hpp"
#include "platform/com/tests/raw_client.hpp"
#include "platform/com/tests/wait_for_instance.hpp"

#include <cstdio>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using tarn1::testing::EchoInterface;
using vela::com::runtime::Serialized_payload;

std::string to_hex(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char digits[3];
    for (const auto byte : bytes)
    {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

std::vector<std::uint8_t> from_hex(const std::string& text)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string call(kest::com::cpp_binding::Rport& port, std::uint16_t method, const std::string& hex)
{
    try
    {
        const auto reply = port.call_method(method, Serialized_payload(from_hex(hex))).get();
        return "ok " + to_hex(reply.bytes());
    }
    catch (const kest::com::Access_denied_exception&)
    {
        return "denied";
    }
    catch (const kest::com::Service_not_available_exception&)
    {
        return "unavailable";
    }
    catch (const std::exception& error)
    {
        return std::string("failed ") + error.what();
    }
}

std::string raw_frame(const std::string& endpoint, std::uint16_t client, std::uint8_t type, std::uint16_t id)
{
    try
    {
        tarn1::testing::Raw_client raw(endpoint);
        kest::com::someip::Message_header header;
        header.service_id = EchoInterface::description().numeric_service_id();
        header.method_id = id;
        header.client_id = client;
        header.message_type = static_cast<kest::com::someip::Message_type>(type);
        header.session_id = type == 0 ? 1 : 0;
        if (!raw.send_all(tarn1::testing::Raw_client::frame(header, {}), std::chrono::seconds(5)))
        {
            return "no reply";
        }
        const auto reply = raw.read_frame(std::chrono::seconds(5));
        if (!reply)
        {
            return "no reply";
        }
        char text[32];
        std::snprintf(text,
                      sizeof text,
                      "reply %02x %02x %x",
                      static_cast<unsigned>(reply->header.message_type),
                      static_cast<unsigned>(reply->header.return_code),
                      static_cast<unsigned>(reply->header.method_id));
        return text;
    }
    catch (const std::exception& error)
    {
        return std::string("failed ") + error.what();
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: com_test_caller <instance>\n";
        return 2;
    }
    ara::log::testing::Log_capture log;
    kest::com::runtime::Component_singleton runtime(false, "caller");
    const auto handle = tarn1::testing::wait_for_instance(
        runtime.get_service_finder(), EchoInterface::service_identifier(), argv[1], std::chrono::seconds(5));
    if (!handle)
    {
        std::cout << "not found" << std::endl;
        return 1;
    }
    kest::com::cpp_binding::Rport port(*handle, EchoInterface::description());
    // Printing from the receive handler and from the command loop goes through one lock.
    std::mutex output;
    port.set_receive_handler(0,
                             [&]
                             {
                                 std::vector<Serialized_payload> samples;
                                 port.take_samples(0, samples);
                                 std::lock_guard<std::mutex> lock(output);
                                 for (const auto& sample : samples)
                                 {
                                     std::vector<std::uint8_t> value;
                                     kest::com::someip::deserialize_arguments(sample, value);
                                     std::cout << "value " << to_hex(value) << std::endl;
                                 }
                             });
    {
        std::lock_guard<std::mutex> lock(output);
        std::cout << "ready" << std::endl;
    }
    std::string line;
    while (std::getline(std::cin, line))
    {
        std::istringstream words(line);
        std::string command;
        words >> command;
        std::string answer;
        if (command == "call")
        {
            unsigned method = 0;
            std::string hex;
            words >> method >> hex;
            answer = call(port, static_cast<std::uint16_t>(method), hex);
        }
        else if (command == "subscribe")
        {
            // Said before any value can be printed.
            std::lock_guard<std::mutex> lock(output);
            port.subscribe_event(0, 8);
            std::cout << "subscribing" << std::endl;
            continue;
        }
        else if (command == "raw")
        {
            unsigned client = 0;
            unsigned type = 0;
            unsigned id = 0;
            words >> client >> std::hex >> type >> std::dec >> id;
            answer = raw_frame(handle->endpoint,
                               static_cast<std::uint16_t>(client),
                               static_cast<std::uint8_t>(type),
                               static_cast<std::uint16_t>(id));
        }
        else if (command == "logged")
        {
            const std::string fragment = line.substr(7);
            std::size_t count = 0;
            for (const auto& text : log.texts())
            {
                count += text.find(fragment) != std::string::npos ? 1 : 0;
            }
            answer = "logged " + std::to_string(count);
        }
        else if (command == "quit")
        {
            break;
        }
        std::lock_guard<std::mutex> lock(output);
        std::cout << answer << std::endl;
    }
    port.unset_receive_handler(0);
    return 0;
}
