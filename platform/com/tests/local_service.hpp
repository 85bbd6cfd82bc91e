#pragma once

#include "ara/com/internal/skeleton/skeleton.h"
#include "kest/com/cpp_binding/method_impl_base.h"
#include "kest/com/runtime/component_singleton.h"
#include "platform/com/src/connection.hpp"
#include "platform/com/src/pport_core.hpp"
#include "platform/com/tests/echo_interface.hpp"
#include "platform/com/tests/wait_for_instance.hpp"
#include "testbed/support/temp_dir.hpp"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <stdexcept>
#include <thread>

namespace tarn1::testing
{

/// The test service offered in the test's own process, with the behaviours the robustness tests
/// need: method 0 echoes, method 1 answers after 20 ms (a slow handler), method 2 throws an int,
/// method 3 a std::runtime_error; event 0 is a field whose value the test sets as raw payload.
class Local_skeleton : public ara::com::internal::skeleton::Skeleton<EchoInterface>
{
  public:
    using Payload = vela::com::runtime::Serialized_payload;
    using Reply_token = kest::com::cpp_binding::Reply_token;
    using Method = kest::com::cpp_binding::Method_impl_base;

    explicit Local_skeleton(const std::string& instance)
        : Skeleton(instance, kest::com::cpp_binding::Method_call_processing_mode::kEvent)
        , m_echo(
              0,
              [](const Payload& request, const Reply_token& reply) { Method::reply_method(reply, request, 0); },
              method_dispatcher())
        , m_slow(
              1,
              [](const Payload&, const Reply_token& reply)
              {
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
                  Method::reply_method(reply, Payload(), 0);
              },
              method_dispatcher())
        , m_throws_int(
              2, [](const Payload&, const Reply_token&) { throw 42; }, method_dispatcher())
        , m_throws_error(
              3,
              [](const Payload&, const Reply_token&) { throw std::runtime_error("handler gave up"); },
              method_dispatcher())
    {
        field_handler().add_field(0, std::nullopt);
        set_level_payload({0, 0, 0, 1, 0});
    }
    ~Local_skeleton() override { StopOfferService(); }

    /// Sends payload as the field's new value, whatever it holds.
    void set_level_payload(std::vector<std::uint8_t> payload)
    {
        field_handler().update(0, Payload(std::move(payload)));
    }
    /// The port's open connections, oldest unknown.
    std::vector<std::shared_ptr<kest::com::internal::Connection>> connections()
    {
        return pport().core()->connections();
    }

  private:
    Method m_echo;
    Method m_slow;
    Method m_throws_int;
    Method m_throws_error;
};

/// Waits until condition holds, looking every millisecond; false after timeout.
inline bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

/// A fixture with a runtime of its own directory and one offered Local_skeleton ("local").
/// Connection bounds are small so that tests can reach them: 6 in all, 3 per user.
class Local_service_test : public ::testing::Test
{
  protected:
    static constexpr std::chrono::seconds s_deadline{5};
    static constexpr std::size_t s_max_connections = 6;
    static constexpr std::size_t s_max_connections_per_uid = 3;

    Local_service_test()
    {
        ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1);
        ::setenv("TARN1_COM_MAX_CONNECTIONS", std::to_string(s_max_connections).c_str(), 1);
        ::setenv("TARN1_COM_MAX_CONNECTIONS_PER_UID", std::to_string(s_max_connections_per_uid).c_str(), 1);
        m_runtime.emplace(false, "test");
        sut.emplace("local");
        sut->OfferService();
        const auto handle = wait_for_instance(
            m_runtime->get_service_finder(), EchoInterface::service_identifier(), "local", s_deadline);
        EXPECT_TRUE(handle.has_value());
        m_handle = handle.value_or(kest::com::cpp_binding::Service_handle{});
    }
    ~Local_service_test() override
    {
        sut.reset();
        m_runtime.reset();
        ::unsetenv("TARN1_COM_MAX_CONNECTIONS_PER_UID");
        ::unsetenv("TARN1_COM_MAX_CONNECTIONS");
        ::unsetenv("TARN1_COM_DIR");
    }

    Temp_dir m_dir;
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
    std::optional<Local_skeleton> sut;
    kest::com::cpp_binding::Service_handle m_handle;
};

} // namespace tarn1::testing
