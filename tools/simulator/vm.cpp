#include "tools/simulator/vm.hpp"

#include "tools/simulator/application_as_user.hpp"
#include "tools/simulator/applications.hpp"
#include "tools/simulator/child_process.hpp"
#include "tools/simulator/ctl_run.hpp"
#include "tools/simulator/errno_text.hpp"
#include "tools/simulator/iam_requests.hpp"
#include "tools/simulator/nm_simulator.hpp"
#include "tools/simulator/scenario_line.hpp"
#include "tools/simulator/status_follower.hpp"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <linux/input.h>
#include <unistd.h>

namespace tarn1::simulator
{

namespace
{

using namespace std::chrono_literals;

const char* const s_input_device = "/dev/input/event0";
const char* const s_config_dir = "/etc/adaptive";

} // namespace

Vm::Vm(Vm_options options, Journal& journal)
    : m_options(std::move(options))
    , m_journal(journal)
    , m_poweroff(journal)
    , m_control_files(journal)
    , m_raw_clients(journal)
{
}

Vm::~Vm()
{
    stop();
}

bool Vm::set_config(const std::string& file, const std::string& name, std::string& error)
{
    if (name.empty() || name.find('/') != std::string::npos)
    {
        error = "bad configuration file name: " + name;
        return false;
    }
    const std::string target = std::string(s_config_dir) + "/" + name;
    if (file.empty())
    {
        if (::unlink(target.c_str()) != 0 && errno != ENOENT)
        {
            error = errno_text("cannot remove " + target);
            return false;
        }
        return true;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in)
    {
        error = "cannot read " + file;
        return false;
    }
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    if (!out)
    {
        error = "cannot write " + target;
        return false;
    }
    m_journal.add("sim", "configuration " + file + " as " + target);
    return true;
}

bool Vm::set_hostname(const std::string& name, std::string& error)
{
    if (::sethostname(name.c_str(), name.size()) != 0)
    {
        error = errno_text("sethostname " + name);
        return false;
    }
    m_journal.add("sim", "host name " + name);
    return true;
}

bool Vm::start(std::string& error)
{
    if (m_started)
    {
        error = "already started";
        return false;
    }
    if (!make_keyboard(error))
    {
        return false;
    }
    if (m_poweroff_reader && !m_poweroff.start(error))
    {
        return false;
    }
    if (!m_control_files.start(error))
    {
        return false;
    }

    if (!start_iam_daemon(error))
    {
        return false;
    }
    auto environment = std::vector<std::string>{"ARA_LOG_CONSOLE=1", "ARA_LOG_DLT=0"};
    environment.push_back("LD_PRELOAD=" + m_options.preload);
    // Without an IAM daemon there is nobody to ask: access control stays off.
    const bool checked = m_with_iam && m_options.access != "off";
    environment.push_back(std::string("TARN1_COM_IAM_SOCKET=") + (checked ? s_iam_socket : ""));
    environment.push_back("TARN1_COM_IAM_MODE=" + (checked ? m_options.access : std::string("enforce")));
    m_journal.add("sim", std::string("access control of Statewarden: ") + (checked ? m_options.access : "off"));
    m_statewarden = std::make_unique<Child_process>("Statewarden", "log", m_journal);
    if (!m_statewarden->start({m_options.statewarden}, environment, error))
    {
        return false;
    }
    m_status = std::make_unique<Status_follower>(m_journal);
    m_started = true;
    return true;
}

bool Vm::start_iam_daemon(std::string& error)
{
    if (!m_with_iam || m_iam)
    {
        return true;
    }
    m_iam = std::make_unique<Child_process>("tarn1_iam_daemon", "iamlog", m_journal);
    if (!m_iam->start({m_options.iam_daemon},
                      {"ARA_LOG_CONSOLE=1",
                       "ARA_LOG_DLT=0",
                       "TARN1_IAM_ALIAS_RULES=" + m_options.alias_rules,
                       "TARN1_IAM_POLICY=" + m_options.policy},
                      error))
    {
        return false;
    }
    // It reports readiness once its socket listens; a probe would leave an ended session in its log.
    if (m_journal.wait_seen("iamlog", "report_ready", std::chrono::steady_clock::now() + 5s))
    {
        return true;
    }
    // The daemons start anyway: what the missing daemon means is what the scenario looks at.
    m_journal.add("sim", "no readiness report of the IAM daemon within 5 s");
    return true;
}

bool Vm::make_keyboard(std::string& error)
{
    const Keyboard_choice choice = choose_keyboard(m_options.keyboard, m_options.keyboard_places);
    if (choice.kind == Keyboard_choice::Kind::none)
    {
        error = choice.reason;
        return false;
    }
    std::string reason = choice.reason;
    if (choice.kind == Keyboard_choice::Kind::uinput)
    {
        m_keyboard = Uinput_hypervisor_keyboard::create(
            s_input_device, m_options.keyboard_places.uinput, m_options.device_places, error);
        if (!m_keyboard && m_options.keyboard == Keyboard_request::uinput)
        {
            return false;
        }
        if (!m_keyboard)
        {
            reason = "the real keyboard failed: " + error;
            error.clear();
        }
    }
    if (!m_keyboard)
    {
        m_keyboard = Fifo_keyboard::create(s_input_device, error);
        if (!m_keyboard)
        {
            return false;
        }
    }
    m_journal.add("sim", "keyboard " + m_keyboard->description() + " (" + reason + ")");
    return true;
}

bool Vm::press(const std::string& key, std::string& error)
{
    std::uint16_t code = 0;
    if (key == "R" || key == "r")
    {
        code = KEY_R;
    }
    else if (key == "P" || key == "p")
    {
        code = KEY_P;
    }
    else if (key == "S" || key == "s")
    {
        code = KEY_S;
    }
    else if (key == "N" || key == "n")
    {
        code = KEY_N;
    }
    else if (key == "POWER" || key == "power")
    {
        code = KEY_POWER;
    }
    else
    {
        error = "unknown key " + key + " (R, P, S, N, POWER)";
        return false;
    }
    if (!m_keyboard)
    {
        error = "not started";
        return false;
    }
    if (!m_keyboard->press(code, error))
    {
        return false;
    }
    m_journal.add("key", key);
    return true;
}

bool Vm::nm_offer(std::string& error)
{
    if (m_nm)
    {
        error = "the NM simulator is already offered";
        return false;
    }
    // The offer is checked with the IAM daemon, which therefore comes first.
    if (!start_iam_daemon(error))
    {
        return false;
    }
    try
    {
        m_nm = std::make_unique<Nm_simulator>(m_journal);
        m_nm->offer(Nm_simulator::Bytes{1});
    }
    catch (const std::exception& exception)
    {
        m_nm.reset();
        error = std::string("cannot offer the NM services: ") + exception.what();
        return false;
    }
    m_journal.add("nm", "offered");
    m_journal.add("nm", "NetworkState 01");
    return true;
}

void Vm::nm_withdraw()
{
    if (m_nm)
    {
        m_nm.reset();
        m_journal.add("nm", "withdrawn");
    }
}

bool Vm::network_state(const std::vector<unsigned char>& value, std::string& error)
{
    if (!m_nm)
    {
        error = "the NM simulator is not offered (nm offer)";
        return false;
    }
    m_nm->update(Nm_simulator::Bytes(value.begin(), value.end()));
    m_journal.add("nm", "NetworkState " + to_hex(value));
    return true;
}

bool Vm::app_call(const std::string& verb,
                  const std::string& service,
                  const std::vector<std::string>& arguments,
                  std::string& error)
{
    bool answered = false;
    if (!call_application(m_journal, verb, service, arguments, answered, error))
    {
        return false;
    }
    if (answered && m_status)
    {
        m_status->refresh();
    }
    return true;
}

bool Vm::app_call_as(unsigned uid,
                     const std::string& verb,
                     const std::string& service,
                     const std::vector<std::string>& arguments,
                     std::string& error)
{
    return call_application_as(m_journal, m_options.self, uid, verb, service, arguments, error);
}

void Vm::client_add(const std::string& name, Client_mode mode, std::chrono::milliseconds delay)
{
    m_clients[name] = std::make_unique<Sim_client>(name, mode, delay, m_journal);
    m_journal.add("client", name + " added");
}

bool Vm::client_mode(const std::string& name, Client_mode mode, std::chrono::milliseconds delay, std::string& error)
{
    const auto client = m_clients.find(name);
    if (client == m_clients.end())
    {
        error = "no client " + name;
        return false;
    }
    client->second->set_mode(mode, delay);
    return true;
}

bool Vm::client_remove(const std::string& name, std::string& error)
{
    if (m_clients.erase(name) == 0)
    {
        error = "no client " + name;
        return false;
    }
    m_journal.add("client", name + " removed");
    return true;
}

bool Vm::raw_client_add(const std::string& name, const std::string& behaviour, std::string& error)
{
    return m_raw_clients.add(name, behaviour, error);
}

bool Vm::iam_request(const std::vector<std::string>& arguments, std::string& error)
{
    return tarn1::simulator::iam_request(m_journal, m_options.iam_client, arguments, error);
}

bool Vm::iam_burst(std::size_t count, const std::vector<std::string>& arguments, std::string& error)
{
    return tarn1::simulator::iam_burst(m_journal, m_options.iam_client, count, arguments, error);
}

bool Vm::run_ctl(const std::vector<std::string>& arguments, int& exit_status, std::string& output, std::string& error)
{
    return run_ctl_program(m_options.ctl, arguments, exit_status, output, error);
}

bool Vm::signal_statewarden(int signal_number, std::string& error)
{
    if (!m_statewarden || !m_statewarden->signal(signal_number))
    {
        error = "Statewarden is not running";
        return false;
    }
    m_journal.add("sim", "signal " + std::to_string(signal_number) + " to Statewarden");
    return true;
}

void Vm::stop()
{
    m_clients.clear();
    m_raw_clients.close_all();
    m_status.reset();
    if (m_statewarden)
    {
        m_statewarden->stop(5000ms);
        m_statewarden.reset();
    }
    if (m_iam)
    {
        m_iam->stop(3000ms);
        m_iam.reset();
    }
    m_nm.reset();
    m_control_files.stop();
    m_poweroff.stop();
    // After the daemon: a real keyboard vanishing under it would be a hang-up it logs.
    m_keyboard.reset();
}

std::string Vm::status() const
{
    return m_journal.latest("status").value_or("");
}

} // namespace tarn1::simulator
