#pragma once

// The UDP NM side played without a UDP NM: both NM services offered as instances of their generated
// skeletons, each call told to a report function as one line ("RequestNetwork 00000001",
// "SetUserData 800000"); GetUserData answers with the last user data set. How the recorded calls
// are answered (at once, with an error return code, or never) follows an Answer_policy.

#include "statemanager/proxy/nm_skeletons.hpp"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tarn1::nm_standin
{

using Bytes = std::vector<std::uint8_t>;
/// Hears one line per call; on the middleware's worker threads.
using Report = std::function<void(const std::string& line)>;

/// Two lower-case hex digits per byte, no separator.
std::string hex(const Bytes& bytes);

/// How an NM side answers RequestNetwork, ReleaseNetwork and SetUserData: at once (the default),
/// with an error reply carrying a non-zero return code, or not at all (a silent NM side). Calls
/// held while silent are answered, late, when answering resumes. Shared by the services of one NM
/// side; any thread.
class Answer_policy final
{
  public:
    Answer_policy() = default;
    Answer_policy(const Answer_policy&) = delete;
    Answer_policy& operator=(const Answer_policy&) = delete;

    /// Answers every call at once from now on, and the held ones now.
    void answer_ok();
    /// Answers every call with an error reply carrying return_code (not 0) from now on.
    void answer_error(std::uint8_t return_code);
    /// Answers no call from now on.
    void stay_silent();
    /// The completion of one recorded call under the policy in force.
    vela::com::Future<void> completion();

  private:
    enum class Mode
    {
        ok,
        error,
        silent,
    };

    // Guards everything below: the services' worker threads and the controlling thread meet here.
    std::mutex m_mutex;
    Mode m_mode{Mode::ok};
    std::uint8_t m_return_code{0};
    std::vector<vela::com::Promise<void>> m_held;
};

class Recording_network_state final : public kest::udpnm::interface::skeleton::NetworkStateInterfaceSkeleton
{
  public:
    /// Answers follow answers when given (it must outlive the service), otherwise come at once.
    Recording_network_state(const std::string& instance, Report report, Answer_policy* answers = nullptr);
    ~Recording_network_state() override;

    vela::com::Future<void> ReleaseNetwork(const Bytes& pattern) override;
    vela::com::Future<void> RequestNetwork(const Bytes& pattern) override;

  private:
    Report m_report;
    Answer_policy* m_answers;
};

class Recording_user_data final : public kest::udpnm::interface::skeleton::UserDataInterfaceSkeleton
{
  public:
    /// Answers of SetUserData follow answers when given (it must outlive the service).
    Recording_user_data(const std::string& instance, Report report, Answer_policy* answers = nullptr);
    ~Recording_user_data() override;

    vela::com::Future<Bytes> GetUserData() override;
    vela::com::Future<void> SetUserData(const Bytes& data) override;

  private:
    Report m_report;
    Answer_policy* m_answers;
    // Guards m_data: callers of different proxies may reach it on different worker threads.
    std::mutex m_mutex;
    Bytes m_data;
};

} // namespace tarn1::nm_standin
