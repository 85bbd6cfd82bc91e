#include "tools/statewarden_ctl/statewarden_ctl.hpp"

#include "kest/com/cpp_binding/service_finder.h"
#include "kest/com/exceptions.h"
#include "statemanager/proxy/state_management_proxies.hpp"
#include "statemanager/skeleton/service_interfaces.hpp"
#include "tools/statewarden_ctl/status_json.hpp"
#include "tools/statewarden_ctl/status_text.hpp"
#include "tools/statewarden_ctl/timeline_svg.hpp"

#include <chrono>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace tarn1::statewarden_ctl
{

namespace
{

using kest::com::cpp_binding::Service_finder;
using kest::com::cpp_binding::Service_handle;
using vela::ap::statemanager::DSAInterface;
using vela::ap::statemanager::StateManagementStatusInterface;
using vela::ap::statemanager::proxy::StateManagementStatusInterfaceProxy;

const char* const s_program = "statewarden_ctl: ";

int usage(std::ostream& err)
{
    err << "usage: statewarden_ctl [--timeout MS] [--wait MS] status [--json]\n"
           "       statewarden_ctl [--timeout MS] [--wait MS] watch [--json] [--count N]\n"
           "       statewarden_ctl [--timeout MS] [--wait MS] history [--json] [--svg FILE]\n"
           "Finds Statewarden through the middleware's discovery folder (TARN1_COM_DIR, default /run/tarn1/com).\n"
           "Exit status: 0 done, 1 the call failed, 2 bad command line, 3 Statewarden is not running,\n"
           "4 Statewarden runs without its status service.\n";
    return s_usage;
}

bool parse_count(const std::string& text, std::uint64_t limit, std::uint64_t& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
    {
        return false;
    }
    value = std::stoull(text);
    return value <= limit;
}

std::string discovery_folder()
{
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read before anything else changes the environment.
    const char* folder = std::getenv("TARN1_COM_DIR");
    return folder != nullptr ? folder : "/run/tarn1/com";
}

/// The status service, waiting up to wait for it to be offered.
std::optional<Service_handle> find_status(Service_finder& finder, std::chrono::milliseconds wait)
{
    const vela::com::runtime::Service_id service(StateManagementStatusInterface::service_identifier());
    const vela::com::runtime::Instance_id instance(StateManagementStatusInterface::instance());
    auto handles = finder.find_service(service, instance);
    if (!handles.empty() || wait.count() == 0)
    {
        return handles.empty() ? std::nullopt : std::optional<Service_handle>(handles.front());
    }
    std::mutex mutex;
    std::condition_variable found_changed;
    std::optional<Service_handle> found;
    const auto search = finder.start_find_service(
        [&](std::vector<Service_handle> offered)
        {
            if (!offered.empty())
            {
                std::lock_guard<std::mutex> lock(mutex);
                found = offered.front();
                found_changed.notify_all();
            }
        },
        service,
        instance);
    {
        std::unique_lock<std::mutex> lock(mutex);
        found_changed.wait_for(lock, wait, [&] { return found.has_value(); });
    }
    finder.stop_find_service(search);
    return found;
}

/// Why the status service is not there: the daemon's always-offered DSA service tells whether it runs.
int not_found(Service_finder& finder, std::ostream& err)
{
    const auto daemon = finder.find_service(vela::com::runtime::Service_id(DSAInterface::service_identifier()),
                                            vela::com::runtime::Instance_id(DSAInterface::instance()));
    if (daemon.empty())
    {
        err << s_program << "Statewarden is not running: none of its services is offered in " << discovery_folder()
            << " (set TARN1_COM_DIR to the folder it uses)\n";
        return s_not_running;
    }
    err << s_program << "Statewarden runs (pid " << daemon.front().pid << ") but does not offer its status service "
        << StateManagementStatusInterface::service_identifier() << " instance "
        << StateManagementStatusInterface::instance() << "\n";
    return s_not_offered;
}

int watch(
    StateManagementStatusInterfaceProxy& proxy, bool json, std::uint64_t count, std::ostream& out, Stop_signal* stop)
{
    Stop_signal own;
    Stop_signal& signal = stop != nullptr ? *stop : own;
    std::deque<vela::ap::statemanager::status::Transition_report> arrived;
    auto& event = proxy.TransitionReport;
    event.SetReceiveHandler(
        [&]
        {
            std::lock_guard<std::mutex> lock(signal.mutex());
            event.Update();
            for (const auto& report : event.GetCachedSamples())
            {
                arrived.push_back(report);
            }
            event.Cleanup();
            signal.changed().notify_all();
        });
    event.Subscribe(16);
    std::uint64_t shown = 0;
    {
        std::unique_lock<std::mutex> lock(signal.mutex());
        while (count == 0 || shown < count)
        {
            signal.changed().wait(lock, [&] { return signal.stopped() || !arrived.empty(); });
            if (signal.stopped())
            {
                break;
            }
            while (!arrived.empty() && (count == 0 || shown < count))
            {
                out << (json ? json_line(report_json(arrived.front())) : watch_line(arrived.front())) << std::endl;
                arrived.pop_front();
                ++shown;
            }
        }
    }
    event.UnsetReceiveHandler();
    event.Unsubscribe();
    return s_ok;
}

} // namespace

void Stop_signal::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
}

int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, Stop_signal* stop)
{
    std::chrono::milliseconds timeout{3000};
    std::chrono::milliseconds wait{0};
    std::size_t next = 0;
    while (next + 1 < arguments.size() && (arguments[next] == "--timeout" || arguments[next] == "--wait"))
    {
        std::uint64_t ms = 0;
        if (!parse_count(arguments[next + 1], 3600000, ms))
        {
            return usage(err);
        }
        (arguments[next] == "--timeout" ? timeout : wait) = std::chrono::milliseconds(ms);
        next += 2;
    }
    if (next >= arguments.size())
    {
        return usage(err);
    }
    const std::string& command = arguments[next++];
    bool json = false;
    std::uint64_t count = 0;
    std::string svg_file;
    for (; next < arguments.size(); ++next)
    {
        const std::string& option = arguments[next];
        if (option == "--json")
        {
            json = true;
        }
        else if (option == "--count" && command == "watch" && next + 1 < arguments.size() &&
                 parse_count(arguments[next + 1], 1000000, count))
        {
            ++next;
        }
        else if (option == "--svg" && command == "history" && next + 1 < arguments.size())
        {
            svg_file = arguments[++next];
        }
        else
        {
            return usage(err);
        }
    }
    if (command != "status" && command != "watch" && command != "history")
    {
        return usage(err);
    }

    // Without its discovery folder nothing runs there; the middleware would make one.
    struct stat folder
    {
    };
    if (::stat(discovery_folder().c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
    {
        err << s_program << "Statewarden is not running: the discovery folder " << discovery_folder()
            << " does not exist (set TARN1_COM_DIR to the folder it uses)\n";
        return s_not_running;
    }
    try
    {
        Service_finder finder;
        const auto handle = find_status(finder, wait);
        if (!handle)
        {
            return not_found(finder, err);
        }
        StateManagementStatusInterfaceProxy proxy(*handle);
        proxy.port().set_call_timeout(timeout);
        if (command == "watch")
        {
            return watch(proxy, json, count, out, stop);
        }
        if (command == "status")
        {
            const auto reply = proxy.GetHolders().get();
            out << (json ? json_line(status_json(reply)) + "\n" : status_text(reply));
            return s_ok;
        }
        const auto reports = proxy.GetHistory().get();
        if (!svg_file.empty())
        {
            const auto now = proxy.GetHolders().get();
            std::ofstream file(svg_file, std::ios::trunc);
            file << timeline_svg(reports, Timeline_now{now.state, now.now_ms, now.now_wall_ms});
            file.close();
            if (!file)
            {
                err << s_program << "cannot write " << svg_file << "\n";
                return s_failed;
            }
            if (!json)
            {
                out << "timeline of " << reports.size() << " state change(s) written to " << svg_file << "\n";
                return s_ok;
            }
        }
        out << (json ? json_line(history_json(reports)) + "\n" : history_text(reports));
        return s_ok;
    }
    catch (const std::exception& error)
    {
        err << s_program << "the status service did not answer: " << error.what() << "\n";
        return s_failed;
    }
}

} // namespace tarn1::statewarden_ctl
