#include "tests/robustness/statewarden_fixture.hpp"

#include "kest/com/cpp_binding/rport.h"
#include "platform/com/tests/wait_for_instance.hpp"
#include "statemanager/skeleton/service_interfaces.hpp"
#include "testbed/support/statewarden_configuration.hpp"
#include "tests/robustness/process_probe.hpp"

#include <cstdlib>
#include <exception>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarn1::testing
{
namespace
{

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string configuration(const std::string& dir)
{
    tarn1::testing::Statewarden_settings settings = tarn1::testing::settings_with_control_files_in(dir);
    settings.application_timeout_s = static_cast<unsigned int>(s_application_timeout.count());
    settings.diagnostic_timeout_s = static_cast<unsigned int>(s_diagnostic_timeout.count());
    settings.power_manager_timeout_s = 1;
    return tarn1::testing::statewarden_configuration(settings);
}

std::size_t occurrences(const std::string& text, const std::string& word)
{
    std::size_t count = 0;
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + word.size()))
    {
        ++count;
    }
    return count;
}

std::chrono::milliseconds since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

} // namespace

Answering_client::Answering_client(std::string name, const std::string& socket_path, const std::string& initial_state)
    : m_client(
          std::move(name),
          [this](const std::string& requested)
          {
              {
                  std::lock_guard<std::mutex> lock(m_mutex);
                  ++m_asked[requested];
              }
              m_changed.notify_all();
              return client_state_notifier::State_change_answer{
                  requested, client_state_notifier::Component_client_return_type::success};
          },
          initial_state,
          client_state_notifier::Component_client_options{socket_path})
{
}

bool Answering_client::wait_asked(const std::string& state, std::size_t times, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock,
                              timeout,
                              [&]
                              {
                                  const auto found = m_asked.find(state);
                                  return found != m_asked.end() && found->second >= times;
                              });
}

std::size_t Answering_client::asked(const std::string& state) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_asked.find(state);
    return found == m_asked.end() ? 0 : found->second;
}

Nm_side::Nm_side()
    : m_network_state("nm", [this](const std::string& line) { heard(line); })
    , m_user_data("nm", [this](const std::string& line) { heard(line); })
{
    m_network_state.NetworkState.Update(nm_standin::Bytes{0x00});
    m_network_state.OfferService();
    m_user_data.OfferService();
}

Nm_side::~Nm_side()
{
    m_network_state.StopOfferService();
    m_user_data.StopOfferService();
}

void Nm_side::heard(const std::string&)
{
    ++m_calls;
    if (m_slow)
    {
        // the answer is late: this handler holds the service's calls as a busy NM side would
        std::this_thread::sleep_for(20ms);
    }
}

void Statewarden_fixture::SetUp()
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "needs root: the daemon runs in a mount namespace of its own and peers of other users are "
                        "played";
    }
    // the attackers hold many connections of their own
    rlimit descriptors{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &descriptors), 0);
    descriptors.rlim_cur = descriptors.rlim_max;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &descriptors), 0);
    // other users' peers reach the sockets through these folders
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0755), 0);
    for (const auto* folder : {&m_run_dir, &m_input_dir, &m_com_dir})
    {
        ASSERT_EQ(::mkdir(folder->c_str(), 0755), 0);
    }
    ASSERT_TRUE(evdev_standin::make_device(m_input_dir + "/event0"));
    m_dir.write_file("statewarden.json", configuration(m_dir.path()));
    m_dir.write_file("set_status", "");
    m_dir.write_file("command_request", "");
    ::setenv("TARN1_COM_DIR", m_com_dir.c_str(), 1);

    Namespaced_daemon probe(m_dir, "true", {}, Namespaced_daemon_options{0, m_run_dir, "probe.log"});
    if (probe.wait_for_exit(10s) != 0)
    {
        GTEST_SKIP() << "no private mount namespace with the VM paths here: " << probe.output();
    }
}

void Statewarden_fixture::TearDown()
{
    m_clients.clear();
    m_daemon.reset();
    m_nm.reset();
    m_runtime.reset();
    ::unsetenv("TARN1_COM_DIR");
}

void Statewarden_fixture::start(rlim_t descriptor_limit)
{
    m_runtime.emplace(false, "robustness_test");
    m_nm.emplace();
    m_daemon.emplace(m_dir,
                     TARN1_STATEWARDEN_PATH,
                     std::vector<std::string>{"TARN1_INPUT_DIR=" + m_input_dir,
                                              std::string("TARN1_PRELOAD=") + TARN1_EVDEV_STANDIN_PRELOAD,
                                              "TARN1_COM_DIR=" + m_com_dir,
                                              "ARA_LOG_LEVEL=info",
                                              "ARA_LOG_CONSOLE=1",
                                              "ARA_LOG_DLT=0"},
                     Namespaced_daemon_options{descriptor_limit, m_run_dir, "daemon.log"});
    ASSERT_TRUE(m_hypervisor.open(m_input_dir + "/event0", 20s)) << log();
    ASSERT_TRUE(eventually([&] { return m_dir.read_file("set_status") == "startinguprunning"; }, 20s))
        << m_dir.read_file("set_status") << log();
    ASSERT_TRUE(m_daemon->wait_for_output("Offering CWU services", 20s)) << log();
    // every user may connect, as to the middleware's endpoints
    ASSERT_TRUE(eventually([&] { return ::chmod(notification_socket().c_str(), 0666) == 0; }, 10s));
    for (const char* name : {"diag::dcm", "app", "diag::dem"})
    {
        m_clients.push_back(std::make_unique<Answering_client>(name, notification_socket()));
    }
    ASSERT_TRUE(eventually(
        [&]
        {
            const auto text = log();
            return text.find("client connected: name = diag::dcm") != std::string::npos &&
                   text.find("client connected: name = app") != std::string::npos &&
                   text.find("client connected: name = diag::dem") != std::string::npos;
        },
        10s))
        << log();
}

std::string Statewarden_fixture::endpoint(const char* service, const std::string& instance)
{
    const auto handle = wait_for_instance(m_runtime->get_service_finder(), service, instance, 10s);
    return handle ? handle->endpoint : std::string();
}

std::optional<std::chrono::milliseconds>
Statewarden_fixture::press_and_wait(std::uint16_t key, const std::string& word, std::chrono::milliseconds deadline)
{
    const auto before = occurrences(m_dir.read_file("set_status"), word);
    const auto start = Clock::now();
    if (!m_hypervisor.press(key) ||
        !eventually([&] { return occurrences(m_dir.read_file("set_status"), word) > before; }, deadline))
    {
        return std::nullopt;
    }
    return since(start);
}

std::optional<std::chrono::milliseconds> Statewarden_fixture::standby(std::chrono::milliseconds deadline)
{
    return press_and_wait(evdev_standin::keys::s_p, "prepared4sd", deadline);
}

std::optional<std::chrono::milliseconds> Statewarden_fixture::resume(std::chrono::milliseconds deadline)
{
    return press_and_wait(evdev_standin::keys::s_r, "running", deadline);
}

std::optional<std::chrono::milliseconds> Statewarden_fixture::dsa_call(std::chrono::milliseconds timeout)
{
    using vela::ap::statemanager::DSAInterface;
    const auto start = Clock::now();
    const auto handle = wait_for_instance(
        m_runtime->get_service_finder(), DSAInterface::service_identifier(), DSAInterface::instance(), timeout);
    while (handle && since(start) < timeout)
    {
        kest::com::cpp_binding::Rport port(*handle, DSAInterface::description());
        port.set_call_timeout(std::max(1ms, timeout - since(start)));
        try
        {
            port.call_method(DSAInterface::kRequestRestart, vela::com::runtime::Serialized_payload({2})).get();
            return since(start);
        }
        catch (const std::exception&)
        {
            // not taken yet: a client tries again
        }
        // as a client would before it tries again
        std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
}

} // namespace tarn1::testing
