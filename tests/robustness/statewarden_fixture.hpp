#pragma once

// The built Statewarden in a mount namespace of its own (testbed/vm_paths.sh), with everything around
// it played by the test: the hypervisor's keyboard (a stand-in input device), the UDP NM (both
// services offered from the test's own process), and three well-behaved clients of the
// notification socket named like the diagnostic managers and an application. The notification
// socket is reached through a folder of the test bound over /var/run/adaptive, open to every user,
// and the middleware's discovery folder is the test's own, so peers of any uid reach every socket.

#include "client_state_notifier/component_client.hpp"
#include "kest/com/cpp_binding/service_handle.h"
#include "kest/com/runtime/component_singleton.h"
#include "testbed/evdev_standin/evdev_writer.hpp"
#include "testbed/nm_standin/recording_nm_services.hpp"
#include "testbed/support/namespaced_daemon.hpp"
#include "testbed/support/temp_dir.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace tarn1::testing
{

/// Seconds the applications step of a round may take, and each step to a diagnostic manager.
constexpr std::chrono::seconds s_application_timeout{2};
constexpr std::chrono::seconds s_diagnostic_timeout{1};
/// A standby or a resume: three steps, each ending at its timeout at the latest; the main loop's
/// cycles and this shared machine's scheduling get 1.5 s more.
constexpr std::chrono::milliseconds s_round_deadline =
    2 * s_diagnostic_timeout + s_application_timeout + std::chrono::milliseconds{1500};

/// A well-behaved client of the notification socket: answers every request at once with success
/// and counts what it was asked.
class Answering_client final
{
  public:
    Answering_client(std::string name, const std::string& socket_path, const std::string& initial_state = "kOn");

    Answering_client(const Answering_client&) = delete;
    Answering_client& operator=(const Answering_client&) = delete;

    /// Waits until it has been asked for state times times in all; false at the deadline.
    bool wait_asked(const std::string& state, std::size_t times, std::chrono::milliseconds timeout) const;
    std::size_t asked(const std::string& state) const;

  private:
    // Guards m_asked: the client's thread counts, the test thread reads.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::map<std::string, std::size_t> m_asked;
    // Last: its thread uses the members above until it is destroyed.
    client_state_notifier::Component_client m_client;
};

/// The UDP NM side, offered from the test's process. Answers every call; while slow, each call
/// 20 ms late, as a busy NM side would.
class Nm_side final
{
  public:
    Nm_side();
    ~Nm_side();

    Nm_side(const Nm_side&) = delete;
    Nm_side& operator=(const Nm_side&) = delete;

    void set_slow(bool slow) { m_slow = slow; }
    std::size_t calls() const { return m_calls; }

  private:
    void heard(const std::string& line);

    std::atomic<bool> m_slow{false};
    std::atomic<std::size_t> m_calls{0};
    nm_standin::Recording_network_state m_network_state;
    nm_standin::Recording_user_data m_user_data;
};

class Statewarden_fixture : public ::testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;

    /// Starts the daemon with at most descriptor_limit descriptors, offers the NM side, and waits
    /// until the machine runs, its application services are offered and the three clients are
    /// registered.
    void start(rlim_t descriptor_limit);

    std::string notification_socket() const { return m_run_dir + "/ara_SM/ara_SM.socket"; }
    /// The socket of an instance the daemon offers.
    std::string endpoint(const char* service, const std::string& instance);

    /// Presses P and waits until the machine is prepared for standby; how long it took, or nothing
    /// at the deadline.
    std::optional<std::chrono::milliseconds> standby(std::chrono::milliseconds deadline = s_round_deadline);
    /// Presses R and waits until the machine runs again.
    std::optional<std::chrono::milliseconds> resume(std::chrono::milliseconds deadline = s_round_deadline);

    /// A well-behaved application on a connection of its own: how long until RequestRestart(2), an
    /// order without action, is answered (connecting again while the daemon does not take the
    /// connection), or nothing when that takes longer than timeout.
    std::optional<std::chrono::milliseconds> dsa_call(std::chrono::milliseconds timeout);

    /// The daemon's log so far.
    std::string log() const { return m_daemon ? m_daemon->output() : std::string(); }

    Temp_dir m_dir;
    std::string m_run_dir{m_dir.file("run")};
    std::string m_input_dir{m_dir.file("input")};
    std::string m_com_dir{m_dir.file("com")};
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
    std::optional<Nm_side> m_nm;
    std::optional<Namespaced_daemon> m_daemon;
    evdev_standin::Evdev_writer m_hypervisor;
    std::vector<std::unique_ptr<Answering_client>> m_clients;

  private:
    std::optional<std::chrono::milliseconds>
    press_and_wait(std::uint16_t key, const std::string& word, std::chrono::milliseconds deadline);
};

} // namespace tarn1::testing
