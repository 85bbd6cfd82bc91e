#pragma once

#include "testbed/uinput/event_node.hpp"
#include "tools/simulator/control_file_watcher.hpp"
#include "tools/simulator/hypervisor_keyboard.hpp"
#include "tools/simulator/journal.hpp"
#include "tools/simulator/keyboard_choice.hpp"
#include "tools/simulator/notification_clients.hpp"
#include "tools/simulator/poweroff_reader.hpp"
#include "tools/simulator/vm_interface.hpp"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarn1::simulator
{

/// Where the programs and example files are.
struct Vm_options
{
    std::string statewarden;
    std::string iam_daemon;
    std::string iam_client;
    std::string preload;
    std::string alias_rules;
    std::string policy;
    /// This program, run again as the application of another user (--app-call).
    std::string self;
    /// How Statewarden checks access: "enforce", "audit" or "off".
    std::string access{"enforce"};
    /// statewarden_ctl.
    std::string ctl;
    /// The hypervisor's keyboard: the FIFO stand-in, a real uinput keyboard, or the choice.
    Keyboard_request keyboard{Keyboard_request::automatic};
    Keyboard_places keyboard_places;
    /// The machine's sysfs and device folder as seen inside the namespace (for the real keyboard's node).
    uinput::Device_places device_places;
};

class Nm_simulator;
class Child_process;
class Status_follower;

/// The simulated virtual machine around the two daemons. Runs inside the private namespace in
/// which the fixed paths are empty folders of its own: it puts the configuration and the devices
/// there, starts the daemons, plays the hypervisor, the UDP NM, the applications, the notification
/// clients and the power-management daemon, and reports everything it sees to the journal.
/// All operations are called from one thread (the scenario runner or the console). Each piece it
/// plays is a class or file of its own beside it (child_process, nm_simulator, status_follower,
/// notification_clients, applications, application_as_user, iam_requests, ctl_run,
/// control_file_watcher, poweroff_reader); this class puts them together in their order.
class Vm final : public Vm_interface
{
  public:
    Vm(Vm_options options, Journal& journal);
    ~Vm() override;

    Vm(const Vm&) = delete;
    Vm& operator=(const Vm&) = delete;

    // Before start().
    /// Copies file to /etc/adaptive/<name>; an empty file name removes /etc/adaptive/<name>.
    bool set_config(const std::string& file, const std::string& name, std::string& error) override;
    bool set_hostname(const std::string& name, std::string& error) override;
    void set_poweroff_reader(bool present) override { m_poweroff_reader = present; }
    void set_iam_daemon(bool present) override { m_with_iam = present; }
    void set_access(const std::string& mode) override { m_options.access = mode; }

    /// Creates the devices, the power-off pipe and the watchers and starts the daemons.
    bool start(std::string& error) override;
    bool started() const override { return m_started; }

    // The hypervisor.
    bool press(const std::string& key, std::string& error) override;

    // The UDP NM simulator.
    bool nm_offer(std::string& error) override;
    void nm_withdraw() override;
    bool network_state(const std::vector<unsigned char>& value, std::string& error) override;

    // Applications.
    /// One request of an application through the middleware: service "ecualive", "comalive",
    /// "cwu" or "dsa"; verb "request" or "release". Reports the outcome to the journal.
    bool app_call(const std::string& verb,
                  const std::string& service,
                  const std::vector<std::string>& arguments,
                  std::string& error) override;
    bool app_call_as(unsigned uid,
                     const std::string& verb,
                     const std::string& service,
                     const std::vector<std::string>& arguments,
                     std::string& error) override;

    // Notification clients.
    void client_add(const std::string& name, Client_mode mode, std::chrono::milliseconds delay) override;
    bool client_mode(const std::string& name,
                     Client_mode mode,
                     std::chrono::milliseconds delay,
                     std::string& error) override;
    bool client_remove(const std::string& name, std::string& error) override;
    bool raw_client_add(const std::string& name, const std::string& behaviour, std::string& error) override;

    /// One access check through the IAM client tool; the journal gets "iam allowed|denied|error|failed".
    bool iam_request(const std::vector<std::string>& arguments, std::string& error) override;

    /// count access checks at once, each over its own connection; the journal gets
    /// "iam burst <count>: <a> allowed, <d> denied, <e> error, <f> failed".
    bool iam_burst(std::size_t count, const std::vector<std::string>& arguments, std::string& error) override;

    /// Runs statewarden_ctl; the discovery folder of this run is in its environment.
    bool run_ctl(const std::vector<std::string>& arguments,
                 int& exit_status,
                 std::string& output,
                 std::string& error) override;

    /// Sends a signal to Statewarden.
    bool signal_statewarden(int signal_number, std::string& error) override;
    /// Ends everything still running (SIGTERM, then SIGKILL after grace).
    void stop() override;

    /// The newest status word, "" before the first.
    std::string status() const;

    /// The IAM daemon's socket in the simulated VM, which the middleware of its processes asks.
    static constexpr const char* s_iam_socket = "/var/run/adaptive/tarn1_iam/iam";

  private:
    bool make_keyboard(std::string& error);
    /// Starts the IAM daemon unless it runs or is left out, and waits until its socket takes
    /// connections: the offers of every process are checked with it.
    bool start_iam_daemon(std::string& error);

    Vm_options m_options;
    Journal& m_journal;
    bool m_poweroff_reader{true};
    bool m_with_iam{true};
    bool m_started{false};
    std::unique_ptr<Hypervisor_keyboard_interface> m_keyboard;
    Poweroff_reader m_poweroff;
    Control_file_watcher m_control_files;
    std::unique_ptr<Child_process> m_statewarden;
    std::unique_ptr<Child_process> m_iam;
    std::unique_ptr<Nm_simulator> m_nm;
    // Follows the daemon's status service from start() to stop().
    std::unique_ptr<Status_follower> m_status;
    std::map<std::string, std::unique_ptr<Sim_client>> m_clients;
    Raw_clients m_raw_clients;
};

} // namespace tarn1::simulator
