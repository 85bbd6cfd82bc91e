#pragma once

namespace vela::ap::statemanager::phm
{

/// Alive reporting to platform health management.
class Supervision_manager_interface
{
  public:
    virtual ~Supervision_manager_interface() = default;

    /// Reports the alive checkpoint of this cycle; after the first failure it reports nothing
    /// any more. Never throws. Called on the main thread at the start of every loop cycle.
    virtual void report_alive_status() = 0;

  protected:
    Supervision_manager_interface() = default;
    Supervision_manager_interface(const Supervision_manager_interface&) = default;
    Supervision_manager_interface& operator=(const Supervision_manager_interface&) = default;
};

} // namespace vela::ap::statemanager::phm
