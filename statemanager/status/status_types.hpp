#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the status service tells about the daemon: who keeps the machine awake, what the network
// management side last saw and did, and what each state change did. Plain values, copied out of
// the status board and sent as they are.

namespace vela::ap::statemanager::status
{

/// The words written to the VM status file, indexed by state id.
constexpr const char* s_status_words[] = {
    "startingup", "running", "runnmcontrolled", "postrun", "shuttingdown", "preparing", "prepared4sd", "resuming"};
constexpr std::uint8_t s_state_count = 8;

/// The status word of a state id; "unknown" for anything else.
inline const char* status_word(std::uint32_t state)
{
    return state < s_state_count ? s_status_words[state] : "unknown";
}

/// Which kind of request an application holds.
enum class Holder_kind : std::uint8_t
{
    ecu_alive = 0,
    com_alive = 1,
    cwu = 2
};

/// One active request of one application (its service instance).
struct Holder
{
    Holder_kind kind{Holder_kind::ecu_alive};
    std::string instance;
    /// COM alive: the CAB bits the application holds now; empty for the other kinds.
    std::vector<std::uint8_t> cab_bits;
    /// COM alive and car wake-up: the application's AC value (1 to 16), 0 for none.
    std::uint8_t ac{0};
    /// When the request became active: steady clock and Unix time, milliseconds.
    std::uint64_t since_ms{0};
    std::uint64_t since_wall_ms{0};
};

/// The network management side as the daemon last saw it and last spoke to it.
struct Nm_view
{
    /// "StateManagerNMUsage".
    bool used{false};
    /// Both UDP NM services were found.
    bool found{false};
    /// False between the preparing state's standby() and the resuming state's end_standby().
    bool sending{true};
    /// The user data last sent (SetUserData).
    std::vector<std::uint8_t> user_data;
    /// The patterns last sent with RequestNetwork and ReleaseNetwork.
    std::vector<std::uint8_t> last_requested;
    std::vector<std::uint8_t> last_released;
    /// The NetworkState value last notified (at most its first 32 bytes) and its whole length.
    std::vector<std::uint8_t> network_state;
    std::uint32_t network_state_size{0};
    /// Derived from NetworkState: 0 active, 1 ready sleep, 2 inactive (sleep mode).
    std::uint8_t ecu_state{0};
};

/// The answer of GetHolders.
struct Holders_reply
{
    std::uint8_t state{0};
    /// The daemon's clocks when the reply was made, to set the holders' times against.
    std::uint64_t now_ms{0};
    std::uint64_t now_wall_ms{0};
    std::vector<Holder> holders;
    /// Holders left out of the list (beyond the bound of the reply).
    std::uint32_t holders_omitted{0};
    Nm_view nm;
    /// The post-run knock-out counter: cycles left, and what it starts from.
    std::uint32_t knockout_left{0};
    std::uint32_t knockout_initial{0};
};

/// The value of the field State.
struct State_value
{
    std::uint8_t id{0};
    std::string word;
    std::uint64_t since_ms{0};
    std::uint64_t since_wall_ms{0};
};

/// The three groups that a notification step addresses.
enum class Client_group : std::uint8_t
{
    dcm = 0,
    apps = 1,
    dem = 2
};

/// How a notification client's part in one step ended.
enum class Client_answer : std::uint8_t
{
    state = 0,   ///< answered with success; answered_state is the state it named
    error = 1,   ///< answered with general_error, invalid or an unknown code
    timeout = 2, ///< had not answered at the deadline (see late)
    dropped = 3  ///< disconnected, or was disconnected, before it answered
};

/// One client of one notification step.
struct Client_row
{
    /// Index of the step in the report's steps.
    std::uint32_t step{0};
    std::string name;
    Client_group group{Client_group::apps};
    Client_answer answer{Client_answer::timeout};
    /// The state the client named in its answer (also in an error answer), as it sent it.
    std::string answered_state;
    /// The code of the answer (0 success, 1 general error, 2 invalid, 3 no answer).
    std::uint8_t code{3};
    /// From the request to the answer, the deadline or the end of the connection.
    std::uint32_t latency_ms{0};
    /// A timed-out client that answered after the deadline, and when (from the request).
    bool late{false};
    std::uint32_t late_ms{0};
};

/// One step of a standby or resume sequence: one group asked for one state.
struct Step_total
{
    /// The notifier's number of the step.
    std::uint64_t serial{0};
    Client_group group{Client_group::apps};
    std::string state;
    /// 0 success, 1 timeout, 2 error.
    std::uint8_t status{0};
    /// When the step was requested (steady clock, ms) and how long it took to complete.
    std::uint64_t started_ms{0};
    std::uint32_t total_ms{0};
    std::uint32_t clients{0};
};

/// What caused a state change.
enum class Cause_kind : std::uint8_t
{
    start_up = 0,    ///< starting up without network management
    key = 1,         ///< a key of the hypervisor
    network = 2,     ///< network management: the services found, the network asleep
    application = 3, ///< an application's request or release
    knock_out = 4,   ///< the post-run knock-out counter ran out
    round_end = 5    ///< a standby or resume notification sequence ended
};

/// One state change and what it did.
struct Transition_report
{
    /// Counts the reports of this run from 1.
    std::uint32_t serial{0};
    std::uint8_t from{0};
    std::uint8_t to{0};
    Cause_kind cause_kind{Cause_kind::key};
    /// "key P", "network asleep", "standby round ended", ...
    std::string cause;
    /// When the change began (steady clock and Unix time, ms).
    std::uint64_t at_ms{0};
    std::uint64_t at_wall_ms{0};
    /// How long the new state's entry actions took, in microseconds.
    std::uint32_t entry_us{0};
    /// How long the old state lasted.
    std::uint32_t time_in_from_ms{0};
    /// How long the change took: the entry actions, and when the old state was only waiting for
    /// this cause (start-up for the NM services, a notification sequence), that wait as well.
    std::uint32_t duration_ms{0};
    /// The notification steps that completed while the old state was current, and their clients.
    std::vector<Step_total> steps;
    std::vector<Client_row> clients;
    /// Rows left out beyond the bound of one report.
    std::uint32_t clients_omitted{0};
};

/// "ecu_alive", "com_alive", "cwu".
inline const char* kind_text(Holder_kind kind)
{
    switch (kind)
    {
    case Holder_kind::ecu_alive:
        return "ecu_alive";
    case Holder_kind::com_alive:
        return "com_alive";
    case Holder_kind::cwu:
        return "cwu";
    }
    return "unknown";
}

/// "dcm", "apps", "dem".
inline const char* group_text(Client_group group)
{
    switch (group)
    {
    case Client_group::dcm:
        return "dcm";
    case Client_group::apps:
        return "apps";
    case Client_group::dem:
        return "dem";
    }
    return "unknown";
}

/// The state the client answered ("kPrepSD"), or "error", "timeout", "dropped".
inline std::string answer_text(const Client_row& row)
{
    switch (row.answer)
    {
    case Client_answer::state:
        return row.answered_state;
    case Client_answer::error:
        return "error";
    case Client_answer::timeout:
        return "timeout";
    case Client_answer::dropped:
        return "dropped";
    }
    return "unknown";
}

/// "start_up", "key", "network", "application", "knock_out", "round_end".
inline const char* cause_kind_text(Cause_kind kind)
{
    switch (kind)
    {
    case Cause_kind::start_up:
        return "start_up";
    case Cause_kind::key:
        return "key";
    case Cause_kind::network:
        return "network";
    case Cause_kind::application:
        return "application";
    case Cause_kind::knock_out:
        return "knock_out";
    case Cause_kind::round_end:
        return "round_end";
    }
    return "unknown";
}

/// "active", "ready sleep", "inactive (sleep mode)".
inline const char* ecu_state_text(std::uint8_t state)
{
    return state == 0 ? "active" : state == 1 ? "ready sleep" : "inactive (sleep mode)";
}

} // namespace vela::ap::statemanager::status
