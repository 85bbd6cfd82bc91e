// Measures the built Statewarden from outside, as the hypervisor sees it:
//  - reaction time: from writing a key-down event into a stand-in input device to the matching
//    word in the VM status file ("preparing" for P, "resuming" for R), over many presses;
//  - idle cost: the daemon's CPU time and wake-ups while it stands in Running with no input.
//
//   statewarden_reaction_bench [presses] [idle_seconds] [period_ms] [statewarden]
//                                                (defaults: 200, 60, 100, the daemon of this build)
//
// Another build's daemon given as the last argument is measured the same way, so two builds can
// be compared in one sitting.
//
// The daemon runs with NM usage disabled in a private mount namespace (testbed/vm_paths.sh) whose
// /dev/input is this program's folder of stand-in devices; it needs root or CAP_SYS_ADMIN.

#include "testbed/evdev_standin/evdev_writer.hpp"
#include "testbed/support/child_process.hpp"
#include "testbed/support/statewarden_configuration.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
namespace standin = tarn1::evdev_standin;

constexpr std::uint16_t s_ev_syn = 0;
constexpr std::uint16_t s_ev_key = 1;

std::string configuration(const std::string& dir, unsigned int period_ms)
{
    tarn1::testing::Statewarden_settings settings = tarn1::testing::settings_with_control_files_in(dir);
    settings.nm_usage = false;
    settings.request_network_on_entry = false;
    settings.period_ms = period_ms;
    settings.application_timeout_s = 1;
    settings.diagnostic_timeout_s = 1;
    settings.power_manager_timeout_s = 1;
    return tarn1::testing::statewarden_configuration(settings);
}

bool write_file(const std::string& path, const std::string& content)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    return static_cast<bool>(file);
}

/// Follows the VM status file: the words the daemon appends, woken by inotify.
class Status_follower final
{
  public:
    explicit Status_follower(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
        , m_inotify(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK))
    {
        if (m_inotify >= 0)
        {
            ::inotify_add_watch(m_inotify, path.c_str(), IN_MODIFY);
        }
    }

    ~Status_follower()
    {
        ::close(m_fd);
        ::close(m_inotify);
    }

    Status_follower(const Status_follower&) = delete;
    Status_follower& operator=(const Status_follower&) = delete;

    bool good() const { return m_fd >= 0 && m_inotify >= 0; }

    /// Forgets what was read so far; the next wait looks only at what comes after.
    void mark()
    {
        read_new();
        m_seen = m_text.size();
    }

    /// Waits until the text written since mark() contains word; false at the timeout.
    bool wait_for(const std::string& word, std::chrono::milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        for (;;)
        {
            read_new();
            if (m_text.find(word, m_seen) != std::string::npos)
            {
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
            {
                return false;
            }
            pollfd ready{m_inotify, POLLIN, 0};
            ::poll(&ready, 1, static_cast<int>(left.count()));
            char events[4096];
            while (::read(m_inotify, events, sizeof events) > 0)
            {
            }
        }
    }

    const std::string& text() const { return m_text; }

  private:
    void read_new()
    {
        char buffer[4096];
        for (;;)
        {
            const ssize_t got = ::pread(m_fd, buffer, sizeof buffer, static_cast<off_t>(m_text.size()));
            if (got <= 0)
            {
                return;
            }
            m_text.append(buffer, static_cast<std::size_t>(got));
        }
    }

    int m_fd;
    int m_inotify;
    std::string m_text;
    std::size_t m_seen{0};
};

/// CPU time of every thread of a process, in nanoseconds (the scheduler's own account, finer
/// than the clock ticks of /proc/<pid>/stat).
long long cpu_ns(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (dir == nullptr)
    {
        return -1;
    }
    long long total = 0;
    while (const dirent* entry = ::readdir(dir))
    {
        if (entry->d_name[0] == '.')
        {
            continue;
        }
        std::ifstream schedstat(tasks + "/" + entry->d_name + "/schedstat");
        long long on_cpu = 0;
        if (schedstat >> on_cpu)
        {
            total += on_cpu;
        }
    }
    ::closedir(dir);
    return total;
}

/// Voluntary context switches (wake-ups after a wait) of every thread of a process, and of
/// its main thread alone.
std::pair<long long, long long> wakeups(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    long long all = 0;
    long long main_thread = 0;
    DIR* dir = ::opendir(tasks.c_str());
    if (dir == nullptr)
    {
        return {-1, -1};
    }
    while (const dirent* entry = ::readdir(dir))
    {
        if (entry->d_name[0] == '.')
        {
            continue;
        }
        std::ifstream status(tasks + "/" + entry->d_name + "/status");
        std::string line;
        while (std::getline(status, line))
        {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            {
                const long long count = std::atoll(line.c_str() + std::strlen("voluntary_ctxt_switches:"));
                all += count;
                if (std::to_string(pid) == entry->d_name)
                {
                    main_thread = count;
                }
            }
        }
    }
    ::closedir(dir);
    return {all, main_thread};
}

double percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    const std::size_t index = std::min(
        values.size() - 1, static_cast<std::size_t>(std::lround(share * static_cast<double>(values.size() - 1))));
    return values[index];
}

/// The daemon, if it runs, is killed as its Child_process goes out of scope.
int fail(const std::string& why, const std::string& dir)
{
    std::fprintf(stderr, "statewarden_reaction_bench: %s (daemon log: %s/statewarden.log)\n", why.c_str(), dir.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    const unsigned long presses = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200;
    const unsigned long idle_seconds = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 60;
    const unsigned long period_ms = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 100;
    const std::string statewarden = argc > 4 ? argv[4] : TARN1_STATEWARDEN_PATH;
    if (presses == 0 || period_ms == 0)
    {
        std::fprintf(stderr, "usage: %s [presses>0] [idle_seconds] [period_ms>0] [statewarden]\n", argv[0]);
        return 2;
    }

    char dir_template[] = "/tmp/statewarden_bench.XXXXXX";
    if (::mkdtemp(dir_template) == nullptr)
    {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dir_template;
    const std::string input_dir = dir + "/input";
    const std::string device = input_dir + "/event0";
    const std::string config = dir + "/statewarden.json";
    const std::string status = dir + "/set_status";
    if (::mkdir(input_dir.c_str(), 0755) != 0 || !standin::make_device(device) ||
        !write_file(config, configuration(dir, static_cast<unsigned int>(period_ms))) || !write_file(status, "") ||
        !write_file(dir + "/command_request", ""))
    {
        return fail("cannot prepare " + dir, dir);
    }

    Status_follower follower(status);
    if (!follower.good())
    {
        return fail("cannot follow " + status, dir);
    }

    tarn1::testing::Child_options options;
    // unshare and the shells exec one another: the daemon keeps the child's process id.
    options.argv = {"unshare",
                    "--mount",
                    "--propagation",
                    "private",
                    TARN1_VM_PATHS_SCRIPT,
                    config,
                    "sh",
                    "-c",
                    R"(mount --bind "$TARN1_INPUT_DIR" /dev/input && LD_PRELOAD="$TARN1_PRELOAD" exec "$0")",
                    statewarden};
    // Its services are offered in a discovery folder of its own.
    options.environment = {"TARN1_INPUT_DIR=" + input_dir,
                           std::string("TARN1_PRELOAD=") + TARN1_EVDEV_STANDIN_PRELOAD,
                           "ARA_LOG_LEVEL=info",
                           "ARA_LOG_CONSOLE=1",
                           "ARA_LOG_DLT=0",
                           "TARN1_COM_DIR=" + dir + "/com"};
    options.output_file = dir + "/statewarden.log";
    tarn1::testing::Child_process daemon(std::move(options));
    if (!daemon.started())
    {
        return fail("fork failed", dir);
    }

    standin::Evdev_writer hypervisor;
    if (!hypervisor.open(device, std::chrono::seconds{20}))
    {
        return fail("the daemon did not open the stand-in input device", dir);
    }
    if (!follower.wait_for("running", std::chrono::seconds{20}))
    {
        return fail("the daemon did not reach Running", dir);
    }

    // P and R in turn: P must show "preparing" (then "prepared4sd"), R "resuming" (then "running").
    std::vector<double> reaction_ms;
    reaction_ms.reserve(presses);
    for (unsigned long press = 0; press < presses; ++press)
    {
        const bool prepare = press % 2 == 0;
        const std::uint16_t key = prepare ? standin::keys::s_p : standin::keys::s_r;
        follower.mark();

        const auto start = Clock::now();
        if (!hypervisor.write_event(s_ev_key, key, 1))
        {
            return fail("cannot write a key event", dir);
        }
        if (!follower.wait_for(prepare ? "preparing" : "resuming", std::chrono::seconds{5}))
        {
            return fail("no reaction to a key press", dir);
        }
        reaction_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());

        // the rest of the stroke, as a keyboard sends it; then wait for the machine to settle
        if (!hypervisor.write_event(s_ev_syn, 0, 0) || !hypervisor.write_event(s_ev_key, key, 0) ||
            !hypervisor.write_event(s_ev_syn, 0, 0) ||
            !follower.wait_for(prepare ? "prepared4sd" : "running", std::chrono::seconds{10}))
        {
            return fail("the machine did not settle after a key press", dir);
        }
    }
    if (presses % 2 == 1)
    {
        follower.mark();
        hypervisor.press(standin::keys::s_r);
        follower.wait_for("running", std::chrono::seconds{10});
    }

    // idle in Running: no input at all
    ::usleep(500 * 1000);
    const long long cpu_before = cpu_ns(daemon.pid());
    const auto wakeups_before = wakeups(daemon.pid());
    const auto idle_start = Clock::now();
    ::sleep(static_cast<unsigned int>(idle_seconds));
    const double idle_elapsed = std::chrono::duration<double>(Clock::now() - idle_start).count();
    const long long cpu_after = cpu_ns(daemon.pid());
    const auto wakeups_after = wakeups(daemon.pid());

    daemon.send(SIGTERM);
    const int exit_status = daemon.wait_for_exit(std::chrono::seconds{30});

    double sum = 0;
    for (const double value : reaction_ms)
    {
        sum += value;
    }
    std::printf(
        "Statewarden reaction, key-down written -> status word in the VM status file (%zu presses, P and R in turn)\n",
        reaction_ms.size());
    std::printf("  p50 %.3f ms   p99 %.3f ms   max %.3f ms   mean %.3f ms\n",
                percentile(reaction_ms, 0.50),
                percentile(reaction_ms, 0.99),
                *std::max_element(reaction_ms.begin(), reaction_ms.end()),
                sum / static_cast<double>(reaction_ms.size()));
    if (idle_seconds > 0)
    {
        const double cpu_seconds = static_cast<double>(cpu_after - cpu_before) / 1e9;
        std::printf("Statewarden idle in Running for %.1f s, main-function period %lu ms\n", idle_elapsed, period_ms);
        std::printf(
            "  CPU %.3f s = %.4f %%   wake-ups: main thread %.1f/s (one per period: %.1f/s), all threads %.1f/s\n",
            cpu_seconds,
            100.0 * cpu_seconds / idle_elapsed,
            static_cast<double>(wakeups_after.second - wakeups_before.second) / idle_elapsed,
            1000.0 / static_cast<double>(period_ms),
            static_cast<double>(wakeups_after.first - wakeups_before.first) / idle_elapsed);
    }
    std::printf("  daemon exit status %d; log and status file in %s\n", exit_status, dir.c_str());
    return 0;
}
