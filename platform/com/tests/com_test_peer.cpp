// Helper program of the middleware tests: offers the test service "tarn1::test::Echo" under the
// instance given as first argument and follows command lines on standard input.
//   com_test_peer <instance> [--nofile N]     (--nofile: the process's descriptor limit)
//   method 0  echoes its request payload
//   method 1  never replies
//   method 2  replies after the delay in ms given as u32 argument
//   event 0   a field ("Level"), initial value 00; "set HEX" updates it
// Commands: "withdraw", "offer", "set HEX", "quit", "logged TEXT". Prints "offered", "withdrawn",
// "set" when done, and "logged N" with the number of log messages so far that contain TEXT. An offer
// that access control refuses prints "offer refused: " and the exception's text.
#include "ara/com/internal/skeleton/skeleton.h"
#include "ara/log/testing/log_capture.h"
#include "kest/com/cpp_binding/method_impl_base.h"
#include "kest/com/exceptions.h"
#include "kest/com/runtime/component_singleton.h"
#include "kest/com/someip/serializer.h"
#include "platform/com/tests/echo_interface.hpp"

#include <chrono>
#include <cstring>
#include <iostream>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace
{

using kest::com::cpp_binding::Method_impl_base;
using kest::com::cpp_binding::Reply_token;
using vela::com::runtime::Serialized_payload;

std::vector<std::uint8_t> from_hex(const std::string& text)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

class Echo_skeleton : public ara::com::internal::skeleton::Skeleton<tarn1::testing::EchoInterface>
{
  public:
    explicit Echo_skeleton(const std::string& instance)
        : Skeleton(instance, kest::com::cpp_binding::Method_call_processing_mode::kEvent)
        , m_echo(
              0,
              [](const Serialized_payload& request, const Reply_token& reply)
              { Method_impl_base::reply_method(reply, request, 0); },
              method_dispatcher())
        , m_silent(
              1, [](const Serialized_payload&, const Reply_token&) {}, method_dispatcher())
        , m_delayed(
              2,
              [](const Serialized_payload& request, const Reply_token& reply)
              {
                  std::uint32_t delay = 0;
                  kest::com::someip::deserialize_arguments(request, delay);
                  std::thread(
                      [reply, delay]
                      {
                          std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                          Method_impl_base::reply_method(reply, Serialized_payload(), 0);
                      })
                      .detach();
              },
              method_dispatcher())
    {
        field_handler().add_field(0, 3);
        set_level({0});
    }
    ~Echo_skeleton() override { StopOfferService(); }

    void set_level(const std::vector<std::uint8_t>& value)
    {
        field_handler().update(0, kest::com::someip::serialize_arguments(value));
    }

  private:
    Method_impl_base m_echo;
    Method_impl_base m_silent;
    Method_impl_base m_delayed;
};

void offer(Echo_skeleton& skeleton)
{
    try
    {
        skeleton.OfferService();
        std::cout << "offered" << std::endl;
    }
    catch (const kest::com::Access_denied_exception& error)
    {
        std::cout << "offer refused: " << error.what() << std::endl;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::cerr << "usage: com_test_peer <instance> [--nofile N]\n";
        return 2;
    }
    if (argc == 4 && std::strcmp(argv[2], "--nofile") == 0)
    {
        const rlimit limit{std::stoul(argv[3]), std::stoul(argv[3])};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        {
            std::cerr << "com_test_peer: setrlimit failed\n";
            return 1;
        }
    }
    ara::log::testing::Log_capture log;
    kest::com::runtime::Component_singleton runtime(false, "peer");
    Echo_skeleton skeleton(argv[1]);
    offer(skeleton);
    std::string line;
    while (std::getline(std::cin, line))
    {
        if (line == "withdraw")
        {
            skeleton.StopOfferService();
            std::cout << "withdrawn" << std::endl;
        }
        else if (line == "offer")
        {
            offer(skeleton);
        }
        else if (line.rfind("set ", 0) == 0)
        {
            skeleton.set_level(from_hex(line.substr(4)));
            std::cout << "set" << std::endl;
        }
        else if (line.rfind("logged ", 0) == 0)
        {
            const std::string fragment = line.substr(7);
            std::size_t count = 0;
            for (const auto& text : log.texts())
            {
                count += text.find(fragment) != std::string::npos ? 1 : 0;
            }
            std::cout << "logged " << count << std::endl;
        }
        else if (line == "quit")
        {
            break;
        }
    }
    return 0;
}
