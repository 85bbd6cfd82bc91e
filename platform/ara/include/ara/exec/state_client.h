#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace ara::exec
{

/// Phase of a function group's state: 1 means the state has been reached.
enum class Function_group_state_transition : std::uint8_t
{
    kInTransition = 0,
    kFinished = 1
};

/// Result codes of StateClient operations: 0 success.
enum class StateReturnType : std::uint8_t
{
    kSuccess = 0,
    kGeneralError = 1,
    kInvalidArguments = 2
};

/// Requests and reads function-group states. Stand-in: a function group starts in "Startup"
/// (reached), SetState records the requested state as reached at once and logs the request
/// (context "EXEC"); nothing else happens. Either operation may throw std::runtime_error on a
/// real platform; the stand-in never does.
class StateClient final
{
  public:
    StateClient() = default;

    StateReturnType SetState(const std::string& functionGroup, const std::string& state);
    StateReturnType
    GetState(const std::string& functionGroup, std::string& state, Function_group_state_transition& transition);

  private:
    // Guards m_states: callers may use one client from several threads.
    std::mutex m_mutex;
    std::map<std::string, std::string> m_states;
};

} // namespace ara::exec
