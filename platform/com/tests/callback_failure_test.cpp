// Callbacks of the system's own code that throw, on the middleware's worker threads: the failure is
// logged and answered where an answer is due, and the process and its later callbacks go on.
#include "ara/log/testing/log_capture.h"
#include "kest/com/cpp_binding/rport.h"
#include "kest/com/exceptions.h"
#include "platform/com/tests/local_service.hpp"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace
{

using kest::com::cpp_binding::Rport;
using tarn1::testing::EchoInterface;
using vela::com::runtime::Serialized_payload;
using namespace std::chrono_literals;

class Callback_failure_test : public tarn1::testing::Local_service_test
{
  protected:
    ara::log::testing::Log_capture m_log;
};

struct Throwing_method_case
{
    const char* name;
    std::uint16_t method;
    const char* logged;
};

class Throwing_method_test : public Callback_failure_test, public ::testing::WithParamInterface<Throwing_method_case>
{
};

TEST_P(Throwing_method_test, CallerGetsNotOkAndTheNextCallIsServed)
{
    Rport port(m_handle, EchoInterface::description());

    try
    {
        port.call_method(GetParam().method, Serialized_payload()).get();
        FAIL() << "the call succeeded";
    }
    catch (const kest::com::cpp_binding::Application_error_exception& error)
    {
        EXPECT_EQ(error.return_code(), 0x01);
    }

    EXPECT_EQ(port.call_method(0, Serialized_payload({5})).get().bytes(), std::vector<std::uint8_t>{5});
    EXPECT_EQ(m_log.count(GetParam().logged, ara::log::LogLevel::kError), 1U);
}

INSTANTIATE_TEST_SUITE_P(
    Handlers,
    Throwing_method_test,
    ::testing::Values(Throwing_method_case{"OtherType", 2, "com: method 2 failed: exception of unknown type"},
                      Throwing_method_case{"StdException", 3, "com: method 3 failed: handler gave up"}),
    [](const ::testing::TestParamInfo<Throwing_method_case>& param) { return std::string(param.param.name); });

TEST_F(Callback_failure_test, ThrowingFindServiceHandlerStillGetsLaterResults)
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::size_t> seen;
    auto& finder = m_runtime->get_service_finder();
    const auto search = finder.start_find_service(
        [&](std::vector<kest::com::cpp_binding::Service_handle> handles)
        {
            std::lock_guard<std::mutex> lock(mutex);
            seen.push_back(handles.size());
            changed.notify_all();
            if (seen.size() == 1)
            {
                throw std::runtime_error("first result refused");
            }
        },
        vela::com::runtime::Service_id(EchoInterface::service_identifier()),
        vela::com::runtime::Instance_id("*"));
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, s_deadline, [&] { return seen.size() == 1; }));
    }

    tarn1::testing::Local_skeleton second("second");
    second.OfferService();

    std::unique_lock<std::mutex> lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, s_deadline, [&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (std::vector<std::size_t>{1, 2}));
    lock.unlock();
    finder.stop_find_service(search);
    EXPECT_EQ(
        m_log.count("com: a callback on a worker thread failed: first result refused", ara::log::LogLevel::kError), 1U);
}

} // namespace
