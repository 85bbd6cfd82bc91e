#pragma once

namespace vela::ap::statemanager::state_notifier
{

/// Carries standby and resume to the applications and the two diagnostic managers, one group
/// at a time. Every operation is called on the main thread, from the preparing and resuming
/// states; completions arrive on the notification server thread and are synchronised inside.
class State_notifier_interface
{
  public:
    virtual ~State_notifier_interface() = default;

    /// Starts (or restarts) the standby sequence ("kPrepSD": DCM, applications, DEM).
    virtual void request_standby() = 0;

    /// Starts the resume sequence ("kOn": DEM, applications, DCM), or redirects a running one.
    virtual void request_resume() = 0;

    /// True while a sequence is in progress, false when none is. Advances the sequence to its next
    /// step when the previous one has completed, so it must be called repeatedly.
    virtual bool check_request_status() = 0;

  protected:
    State_notifier_interface() = default;
    State_notifier_interface(const State_notifier_interface&) = default;
    State_notifier_interface& operator=(const State_notifier_interface&) = default;
};

} // namespace vela::ap::statemanager::state_notifier
