// A long stretch of the daemon's normal life: 200 standby/resume cycles with the diagnostic
// managers and an application answering, then 1,000 application request/release cycles of ECU
// alive and COM alive, with the daemon's descriptors and resident memory sampled as it goes. After
// a warm-up neither may grow. It takes a few minutes, so it runs only with TARN1_SOAK=1
// (docs/robustness.md).

#include "kest/com/cpp_binding/rport.h"
#include "platform/com/tests/wait_for_instance.hpp"
#include "statemanager/skeleton/service_interfaces.hpp"
#include "tests/robustness/bounds.hpp"
#include "tests/robustness/process_probe.hpp"
#include "tests/robustness/statewarden_fixture.hpp"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>
#include <ostream>
#include <string>
#include <vector>

namespace tarn1::testing
{
namespace
{

using namespace std::chrono_literals;
using vela::ap::statemanager::StateManagementAliveInterface;
using vela::ap::statemanager::StateManagementComAliveInterface;
using vela::com::runtime::Serialized_payload;

constexpr std::size_t s_standby_cycles = 200;
constexpr std::size_t s_application_cycles = 1000;
/// Cycles before the reference sample: allocator pools, the log's buffers and the middleware's
/// connections settle in the first ones.
constexpr std::size_t s_standby_warm_up = 20;
constexpr std::size_t s_application_warm_up = 100;
/// How far a later sample may lie above the reference: a connection being opened or closed at
/// the moment of sampling, the allocator's noise.
constexpr std::size_t s_descriptor_noise = 2;
constexpr std::size_t s_resident_noise_kib = 512;

struct Sample
{
    std::size_t cycle;
    std::size_t descriptors;
    std::size_t resident_kib;
};

std::ostream& operator<<(std::ostream& out, const std::vector<Sample>& samples)
{
    for (const auto& sample : samples)
    {
        out << "\n  cycle " << sample.cycle << ": " << sample.descriptors << " descriptors, " << sample.resident_kib
            << " KiB";
    }
    return out;
}

/// The samples after the reference (the first one at or after warm_up) that lie above it by more
/// than the noise. With sanitizers, resident memory grows by the freed blocks AddressSanitizer
/// keeps in quarantine (up to 256 MiB), so only descriptors count there.
std::vector<Sample> grown(const std::vector<Sample>& samples, std::size_t warm_up)
{
    const auto reference = std::find_if(
        samples.begin(), samples.end(), [warm_up](const Sample& sample) { return sample.cycle >= warm_up; });
    std::vector<Sample> above;
    for (auto later = reference; reference != samples.end() && later != samples.end(); ++later)
    {
        if (later->descriptors > reference->descriptors + s_descriptor_noise ||
            (!s_sanitized && later->resident_kib > reference->resident_kib + s_resident_noise_kib))
        {
            above.push_back(*later);
        }
    }
    return above;
}

using Statewarden_soak_test = Statewarden_fixture;

TEST_F(Statewarden_soak_test, StandbyResumeAndApplicationCyclesLeaveDescriptorsAndMemoryFlat)
{
    const char* const soak = std::getenv("TARN1_SOAK");
    if (soak == nullptr || std::string(soak) != "1")
    {
        GTEST_SKIP() << "runs only with TARN1_SOAK=1: a few minutes of standby and application cycles";
    }
    ASSERT_NO_FATAL_FAILURE(start(1024));
    const pid_t pid = m_daemon->pid();
    const auto sample = [pid](std::size_t cycle) {
        return Sample{cycle, descriptor_count(pid).value_or(0), resident_kib(pid).value_or(0)};
    };

    // the hypervisor sends the machine to standby and back, again and again
    std::vector<Sample> standby_samples;
    for (std::size_t cycle = 1; cycle <= s_standby_cycles; ++cycle)
    {
        ASSERT_TRUE(standby().has_value()) << "cycle " << cycle << log();
        ASSERT_TRUE(resume().has_value()) << "cycle " << cycle << log();
        if (cycle % 10 == 0)
        {
            standby_samples.push_back(sample(cycle));
        }
    }
    // an application keeps the ECU alive and communication alive, and lets go, again and again
    auto& finder = m_runtime->get_service_finder();
    const auto ecu_handle = wait_for_instance(finder, StateManagementAliveInterface::service_identifier(), "ecu", 10s);
    const auto com_handle =
        wait_for_instance(finder, StateManagementComAliveInterface::service_identifier(), "com", 10s);
    ASSERT_TRUE(ecu_handle && com_handle);
    kest::com::cpp_binding::Rport ecu(*ecu_handle, StateManagementAliveInterface::description());
    kest::com::cpp_binding::Rport com(*com_handle, StateManagementComAliveInterface::description());
    // CAB bit 0 with AC 3, then its release
    const Serialized_payload com_request({0, 0, 0, 4, 1, 0, 0, 0, 3});
    const Serialized_payload com_release({0, 0, 0, 4, 1, 0, 0, 0});
    std::vector<Sample> application_samples;
    for (std::size_t cycle = 1; cycle <= s_application_cycles; ++cycle)
    {
        ASSERT_NO_THROW(ecu.call_method(StateManagementAliveInterface::kRequestAlive, Serialized_payload()).get())
            << "cycle " << cycle;
        ASSERT_NO_THROW(com.call_method(StateManagementComAliveInterface::kRequestComAlive, com_request).get())
            << "cycle " << cycle;
        ASSERT_NO_THROW(ecu.call_method(StateManagementAliveInterface::kReleaseAlive, Serialized_payload()).get())
            << "cycle " << cycle;
        ASSERT_NO_THROW(com.call_method(StateManagementComAliveInterface::kReleaseComAlive, com_release).get())
            << "cycle " << cycle;
        if (cycle % 50 == 0)
        {
            application_samples.push_back(sample(cycle));
        }
    }

    std::cout << "[ samples ] standby/resume cycles:" << standby_samples
              << "\n[ samples ] application cycles:" << application_samples << "\n";
    EXPECT_TRUE(grown(standby_samples, s_standby_warm_up).empty()) << standby_samples;
    EXPECT_TRUE(grown(application_samples, s_application_warm_up).empty()) << application_samples;
    EXPECT_TRUE(m_daemon->running());
    for (const auto& client : m_clients)
    {
        EXPECT_EQ(client->asked("kPrepSD"), s_standby_cycles);
        EXPECT_EQ(client->asked("kOn"), s_standby_cycles);
    }
}

} // namespace
} // namespace tarn1::testing
