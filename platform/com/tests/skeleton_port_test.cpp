#include "ara/com/internal/skeleton/skeleton.h"
#include "kest/com/cpp_binding/method_impl_base.h"
#include "kest/com/cpp_binding/rport.h"
#include "kest/com/cpp_binding/skeleton_method.h"
#include "kest/com/exceptions.h"
#include "kest/com/runtime/component_singleton.h"
#include "platform/com/tests/echo_interface.hpp"
#include "testbed/support/temp_dir.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <thread>

namespace
{

using kest::com::cpp_binding::Rport;
using kest::com::cpp_binding::Skeleton_method;
using tarn1::testing::EchoInterface;
using vela::com::runtime::Serialized_payload;
using namespace std::chrono_literals;

/// A skeleton in this process whose method 0 records overlapping runs, and whose method 1 answers
/// with a future the test satisfies.
class Test_skeleton : public ara::com::internal::skeleton::Skeleton<EchoInterface>
{
  public:
    explicit Test_skeleton(const std::string& instance)
        : Skeleton(instance, kest::com::cpp_binding::Method_call_processing_mode::kEvent)
        , m_busy(0,
                 method_dispatcher(),
                 [this](const std::uint8_t&)
                 {
                     if (m_running.fetch_add(1) != 0)
                     {
                         ++m_overlaps;
                     }
                     std::this_thread::sleep_for(200us);
                     m_running.fetch_sub(1);
                     return vela::com::make_ready_future();
                 })
        , m_deferred(1, method_dispatcher(), [this] { return m_pending.get_future(); })
    {
    }
    ~Test_skeleton() override { StopOfferService(); }

    std::atomic<int> m_running{0};
    std::atomic<int> m_overlaps{0};
    vela::com::Promise<void> m_pending;

  private:
    Skeleton_method<void, std::uint8_t> m_busy;
    Skeleton_method<void> m_deferred;
};

class Skeleton_port_test : public ::testing::Test
{
  protected:
    Skeleton_port_test()
    {
        ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1);
        m_runtime.emplace(false, "test");
        sut.emplace("local");
        sut->OfferService();
        // discovery learns of the offer through the directory watch, as another process would
        std::mutex mutex;
        std::condition_variable found;
        std::vector<kest::com::cpp_binding::Service_handle> handles;
        auto& finder = m_runtime->get_service_finder();
        const auto search = finder.start_find_service(
            [&](std::vector<kest::com::cpp_binding::Service_handle> result)
            {
                std::lock_guard<std::mutex> lock(mutex);
                handles = std::move(result);
                found.notify_all();
            },
            vela::com::runtime::Service_id(EchoInterface::service_identifier()),
            vela::com::runtime::Instance_id("local"));
        {
            std::unique_lock<std::mutex> lock(mutex);
            EXPECT_TRUE(found.wait_for(lock, 5s, [&] { return handles.size() == 1; }));
        }
        finder.stop_find_service(search);
        m_handle = handles.empty() ? kest::com::cpp_binding::Service_handle{} : handles.front();
    }
    ~Skeleton_port_test() override
    {
        sut.reset();
        m_runtime.reset();
        ::unsetenv("TARN1_COM_DIR");
    }

    tarn1::testing::Temp_dir m_dir;
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
    kest::com::cpp_binding::Service_handle m_handle;
    std::optional<Test_skeleton> sut;
};

TEST_F(Skeleton_port_test, CallsOfOneSkeletonNeverOverlap)
{
    Rport first(m_handle, EchoInterface::description());
    Rport second(m_handle, EchoInterface::description());
    std::vector<std::thread> callers;

    for (int i = 0; i < 4; ++i)
    {
        callers.emplace_back(
            [&, i]
            {
                auto& port = i % 2 == 0 ? first : second;
                for (int call = 0; call < 25; ++call)
                {
                    port.call_method(0, Serialized_payload({1})).get();
                }
            });
    }
    for (auto& caller : callers)
    {
        caller.join();
    }

    EXPECT_EQ(sut->m_overlaps.load(), 0);
}

TEST_F(Skeleton_port_test, ReplyWaitsUntilTheHandlersFutureIsSatisfied)
{
    Rport port(m_handle, EchoInterface::description());

    auto reply = port.call_method(1, Serialized_payload());
    EXPECT_EQ(reply.wait_for(50ms), vela::com::future_status::timeout);
    sut->m_pending.set_value();

    EXPECT_EQ(reply.wait_for(5s), vela::com::future_status::ready);
    EXPECT_NO_THROW(reply.get());
}

TEST_F(Skeleton_port_test, UnknownMethodIsAnsweredWithAnError)
{
    Rport port(m_handle, EchoInterface::description());

    try
    {
        port.call_method(3, Serialized_payload()).get();
        FAIL() << "the call succeeded";
    }
    catch (const kest::com::cpp_binding::Application_error_exception& error)
    {
        EXPECT_EQ(error.return_code(), 0x03);
    }
}

TEST_F(Skeleton_port_test, WithdrawnServiceFailsTheCallsOfConnectedProxies)
{
    Rport port(m_handle, EchoInterface::description());

    sut->StopOfferService();

    EXPECT_THROW(port.call_method(0, Serialized_payload({1})).get(), kest::com::Infrastructure_exception);
}

} // namespace
