#pragma once

namespace vela::ap::statemanager::smw
{

/// The VM status writer as the states see it: each operation writes the word of one state to
/// the status file ("startingup", "running", ...). A failed write is logged by the writer; the
/// caller learns nothing of it. All operations are called on the main thread, from the states'
/// entry actions.
class Shared_memory_update_interface
{
  public:
    virtual ~Shared_memory_update_interface() = default;

    /// Writes "startingup".
    virtual void starting_up() = 0;
    /// Writes "running".
    virtual void running() = 0;
    /// Writes "shuttingdown".
    virtual void shutting_down() = 0;
    /// Writes "runnmcontrolled".
    virtual void run_nm_controlled() = 0;
    /// Writes "postrun".
    virtual void post_run() = 0;
    /// Writes "preparing".
    virtual void preparing() = 0;
    /// Writes "prepared4sd".
    virtual void prepared_4_sd() = 0;
    /// Writes "resuming".
    virtual void resuming() = 0;

  protected:
    Shared_memory_update_interface() = default;
    Shared_memory_update_interface(const Shared_memory_update_interface&) = default;
    Shared_memory_update_interface& operator=(const Shared_memory_update_interface&) = default;
};

} // namespace vela::ap::statemanager::smw
