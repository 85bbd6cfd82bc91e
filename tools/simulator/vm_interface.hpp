#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace tarn1::simulator
{

/// How a notification client answers a state change request.
enum class Client_mode
{
    now,   // at once, with success
    late,  // after its delay, with success
    error, // at once, with general_error and its old state
    never  // not at all
};

/// The simulated virtual machine as the scenario runner drives it. Every operation is called from
/// the runner's thread; those with an error argument return false with a reason when they cannot
/// do what was asked (what they observe goes to the journal, not to the result).
class Vm_interface
{
  public:
    virtual ~Vm_interface() = default;

    // Before start().
    /// Copies file to /etc/adaptive/<name>; an empty file name removes /etc/adaptive/<name>.
    virtual bool set_config(const std::string& file, const std::string& name, std::string& error) = 0;
    virtual bool set_hostname(const std::string& name, std::string& error) = 0;
    virtual void set_poweroff_reader(bool present) = 0;
    virtual void set_iam_daemon(bool present) = 0;
    /// How Statewarden checks access: "enforce", "audit" or "off" (TARN1_COM_IAM_MODE; off leaves
    /// TARN1_COM_IAM_SOCKET unset).
    virtual void set_access(const std::string& mode) = 0;

    /// Creates the devices, the power-off pipe and the watchers and starts the daemons.
    virtual bool start(std::string& error) = 0;
    virtual bool started() const = 0;

    /// One key stroke of the hypervisor: "R", "P", "S", "N" or "POWER".
    virtual bool press(const std::string& key, std::string& error) = 0;

    /// Offers or withdraws the UDP NM services; sends a NetworkState notification.
    virtual bool nm_offer(std::string& error) = 0;
    virtual void nm_withdraw() = 0;
    virtual bool network_state(const std::vector<unsigned char>& value, std::string& error) = 0;

    /// One request of an application through the middleware: service "ecualive", "comalive",
    /// "cwu" or "dsa"; verb "request" or "release". Reports the outcome to the journal.
    virtual bool app_call(const std::string& verb,
                          const std::string& service,
                          const std::vector<std::string>& arguments,
                          std::string& error) = 0;
    /// The same request made by an application of another user: a process of its own with uid as
    /// its user and group id. The journal gets "as uid UID: " and the outcome.
    virtual bool app_call_as(unsigned uid,
                             const std::string& verb,
                             const std::string& service,
                             const std::vector<std::string>& arguments,
                             std::string& error) = 0;

    /// Notification clients on the client library, and raw ones that misbehave on the wire:
    /// "partial" sends its hello and then half a frame and nothing more, "huge" declares a frame far
    /// over the limit after its hello, "silent" never says hello.
    virtual void client_add(const std::string& name, Client_mode mode, std::chrono::milliseconds delay) = 0;
    virtual bool
    client_mode(const std::string& name, Client_mode mode, std::chrono::milliseconds delay, std::string& error) = 0;
    virtual bool client_remove(const std::string& name, std::string& error) = 0;
    virtual bool raw_client_add(const std::string& name, const std::string& behaviour, std::string& error) = 0;

    /// One access check through the IAM client tool; count checks at once.
    virtual bool iam_request(const std::vector<std::string>& arguments, std::string& error) = 0;
    virtual bool iam_burst(std::size_t count, const std::vector<std::string>& arguments, std::string& error) = 0;

    /// Runs statewarden_ctl with arguments against the simulated machine's daemon; exit_status is
    /// its exit status, output what it printed (standard output, then standard error). False with
    /// a reason only when it cannot be run at all.
    virtual bool
    run_ctl(const std::vector<std::string>& arguments, int& exit_status, std::string& output, std::string& error) = 0;

    /// Sends a signal to Statewarden.
    virtual bool signal_statewarden(int signal_number, std::string& error) = 0;
    /// Ends everything still running (SIGTERM, then SIGKILL after grace).
    virtual void stop() = 0;

  protected:
    Vm_interface() = default;
    Vm_interface(const Vm_interface&) = default;
    Vm_interface& operator=(const Vm_interface&) = default;
};

} // namespace tarn1::simulator
