// iam_bench: measures the built IAM daemon against a raw asio unix-socket echo server of the same
// shape (one thread, one receive of at most 1024 bytes, one complete write, receive again), both
// started by this program and measured in the same run:
//   - round-trip time with one connection (p50, p99),
//   - round trips per second with 64 connections, each with one request outstanding,
//   - resident memory with 1,000 idle connections (each served once),
//   - decoding cost of a request text, in this process.
// The daemon's socket path is fixed, so the program first moves into a private mount namespace with
// an empty tmpfs over /var/run (needs root). The daemon's alias and policy stand-ins read small
// files written here, and answer from memory.
//
//   iam_bench [--daemon PATH] [--round-trips N] [--seconds S] [--connections C] [--idle I]

#include "ara/log/logging.h"
#include "iam/request_handler.hpp"
#include "testbed/support/child_process.hpp"
#include "vela/iam/messages.hpp"

#include <algorithm>
#include <array>
#include <asio/buffer.hpp>
#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/write.hpp>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <memory>
#include <sched.h>
#include <string>
#include <sys/epoll.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
using namespace vela::iam;

constexpr const char* echo_socket = "/var/run/adaptive/bench_echo";

struct Options
{
    std::string daemon{TARN1_IAM_DAEMON_PATH};
    int round_trips{20000};
    double seconds{2.0};
    int connections{64};
    int idle{1000};
};

[[noreturn]] void fail(const std::string& what)
{
    std::cerr << "iam_bench: " << what << (errno != 0 ? std::string(": ") + std::strerror(errno) : "") << "\n";
    std::exit(1);
}

// ---- the raw echo server ------------------------------------------------------------------------

class Echo_session : public std::enable_shared_from_this<Echo_session>
{
  public:
    explicit Echo_session(asio::io_context& io)
        : m_socket(io)
    {
    }
    asio::local::stream_protocol::socket& socket() { return m_socket; }
    void start_read()
    {
        m_socket.async_read_some(asio::buffer(m_buffer),
                                 [self = shared_from_this()](std::error_code error, std::size_t n)
                                 {
                                     if (!error)
                                     {
                                         asio::async_write(self->m_socket,
                                                           asio::buffer(self->m_buffer.data(), n),
                                                           [self](std::error_code e, std::size_t)
                                                           {
                                                               if (!e)
                                                               {
                                                                   self->start_read();
                                                               }
                                                           });
                                     }
                                 });
    }

  private:
    asio::local::stream_protocol::socket m_socket;
    std::array<char, 1024> m_buffer{};
};

class Echo_server
{
  public:
    Echo_server(asio::io_context& io, const std::string& path)
        : m_io(io)
        , m_acceptor(io, asio::local::stream_protocol::endpoint(path))
    {
        accept();
    }

  private:
    void accept()
    {
        auto session = std::make_shared<Echo_session>(m_io);
        m_acceptor.async_accept(session->socket(),
                                [this, session](std::error_code error)
                                {
                                    if (!error)
                                    {
                                        session->start_read();
                                    }
                                    accept();
                                });
    }
    asio::io_context& m_io;
    asio::local::stream_protocol::acceptor m_acceptor;
};

// ---- clients ------------------------------------------------------------------------------------

int connect_to(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline)
    {
        const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
        {
            return descriptor;
        }
        ::close(descriptor);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    fail("connect " + path);
}

/// One blocking round trip: the request (with its zero byte) out, bytes in up to a zero byte.
void round_trip(int descriptor, const std::string& request)
{
    if (::send(descriptor, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
    {
        fail("send");
    }
    char buffer[1024];
    for (;;)
    {
        const auto received = ::recv(descriptor, buffer, sizeof(buffer), 0);
        if (received <= 0)
        {
            fail("recv");
        }
        if (buffer[received - 1] == '\0')
        {
            return;
        }
    }
}

struct Latency
{
    double p50_us;
    double p99_us;
    double mean_us;
};

Latency measure_latency(const std::string& path, const std::string& request, int round_trips)
{
    const int descriptor = connect_to(path);
    for (int i = 0; i < 1000; ++i)
    {
        round_trip(descriptor, request);
    }
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(round_trips));
    for (int i = 0; i < round_trips; ++i)
    {
        const auto started = Clock::now();
        round_trip(descriptor, request);
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - started).count());
    }
    ::close(descriptor);
    std::sort(samples.begin(), samples.end());
    double sum = 0;
    for (const double sample : samples)
    {
        sum += sample;
    }
    return Latency{
        samples[samples.size() / 2], samples[samples.size() * 99 / 100], sum / static_cast<double>(samples.size())};
}

/// Round trips per second with connections clients, each keeping one request outstanding.
double measure_throughput(const std::string& path, const std::string& request, int connections, double seconds)
{
    const int poller = ::epoll_create1(EPOLL_CLOEXEC);
    std::vector<int> descriptors;
    for (int i = 0; i < connections; ++i)
    {
        const int descriptor = connect_to(path);
        descriptors.push_back(descriptor);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = descriptor;
        ::epoll_ctl(poller, EPOLL_CTL_ADD, descriptor, &event);
    }
    auto send_request = [&request](int descriptor)
    {
        if (::send(descriptor, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        {
            fail("send");
        }
    };
    for (const int descriptor : descriptors)
    {
        send_request(descriptor);
    }
    std::uint64_t completed = 0;
    const auto started = Clock::now();
    const auto end = started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::array<epoll_event, 64> events{};
    char buffer[1024];
    while (Clock::now() < end)
    {
        const int ready = ::epoll_wait(poller, events.data(), static_cast<int>(events.size()), 100);
        for (int i = 0; i < ready; ++i)
        {
            const int descriptor = events[static_cast<std::size_t>(i)].data.fd;
            const auto received = ::recv(descriptor, buffer, sizeof(buffer), 0);
            if (received <= 0)
            {
                fail("recv");
            }
            if (buffer[received - 1] == '\0')
            {
                ++completed;
                send_request(descriptor);
            }
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    // collect the answers still under way so the next measurement starts clean
    for (const int descriptor : descriptors)
    {
        ::shutdown(descriptor, SHUT_WR);
        while (::recv(descriptor, buffer, sizeof(buffer), 0) > 0)
        {
        }
        ::close(descriptor);
    }
    ::close(poller);
    return static_cast<double>(completed) / elapsed;
}

long resident_kib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
    {
        if (line.rfind("VmRSS:", 0) == 0)
        {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

/// Resident memory of pid while idle connections are open, each served once.
long resident_with_idle(pid_t pid, const std::string& path, const std::string& request, int idle)
{
    std::vector<int> descriptors;
    for (int i = 0; i < idle; ++i)
    {
        const int descriptor = connect_to(path);
        round_trip(descriptor, request);
        descriptors.push_back(descriptor);
    }
    const long kib = resident_kib(pid);
    for (const int descriptor : descriptors)
    {
        ::close(descriptor);
    }
    return kib;
}

// ---- set-up -------------------------------------------------------------------------------------

void pin_to_cpu(int cpu)
{
    if (std::thread::hardware_concurrency() < 2)
    {
        return;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    (void)::sched_setaffinity(0, sizeof(set), &set);
}

void enter_private_run_folder()
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", "/var/run", "tmpfs", 0, "mode=0755") != 0)
    {
        fail("cannot make a private mount namespace with a tmpfs over /var/run (run as root)");
    }
    ::mkdir("/var/run/adaptive", 0755);
}

void raise_descriptor_limit(rlim_t wanted)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < wanted)
    {
        limit.rlim_cur = std::min(wanted, limit.rlim_max);
        (void)::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

pid_t start_echo_server()
{
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        pin_to_cpu(1);
        asio::io_context io;
        Echo_server server(io, echo_socket);
        io.run();
        std::_Exit(0);
    }
    return pid;
}

std::unique_ptr<tarn1::testing::Child_process> start_daemon(const std::string& daemon, const std::string& folder)
{
    std::ofstream(folder + "/alias.conf") << "1000 1000 * bench_app\n";
    std::ofstream(folder + "/policy.conf") << "allow bench_app - SOMEIP 1234 *\n";
    tarn1::testing::Child_options options;
    options.argv = {daemon};
    options.environment = {"TARN1_IAM_ALIAS_RULES=" + folder + "/alias.conf",
                           "TARN1_IAM_POLICY=" + folder + "/policy.conf",
                           "ARA_LOG_CONSOLE=0",
                           "ARA_LOG_DLT=0"};
    options.inherit_environment = false;
    // what it still says (a sanitizer's report) goes where the bench's own output goes
    options.keep_output = true;
    options.before_exec = []
    {
        pin_to_cpu(1);
        return 0;
    };
    return std::make_unique<tarn1::testing::Child_process>(std::move(options));
}

int stop(pid_t pid)
{
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Options parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--daemon")
        {
            options.daemon = value;
        }
        else if (name == "--round-trips")
        {
            options.round_trips = std::max(100, std::atoi(value.c_str()));
        }
        else if (name == "--seconds")
        {
            options.seconds = std::max(0.1, std::atof(value.c_str()));
        }
        else if (name == "--connections")
        {
            options.connections = std::clamp(std::atoi(value.c_str()), 1, 1000);
        }
        else if (name == "--idle")
        {
            options.idle = std::clamp(std::atoi(value.c_str()), 0, 10000);
        }
        else
        {
            std::cerr
                << "usage: iam_bench [--daemon PATH] [--round-trips N] [--seconds S] [--connections C] [--idle I]\n";
            std::exit(2);
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    enter_private_run_folder();
    raise_descriptor_limit(static_cast<rlim_t>(options.idle) + 256);

    char folder_template[] = "/tmp/iam_bench.XXXXXX";
    const char* folder = ::mkdtemp(folder_template);
    if (folder == nullptr)
    {
        fail("mkdtemp");
    }

    Check_request_posix posix;
    posix.identifier = identifier::Identifier_posix{4242, 1000, 1000};
    posix.service = iam_internal_if::Service_someip_ifc{0x1234, 1, Operation::Call_method};
    const std::string request = encode_request(Check_requestT<Check_request_posix>(posix)) + std::string(1, '\0');

    // what the daemon does per request, measured in this process with the same stand-in files
    const auto daemon = start_daemon(options.daemon, folder);
    ::setenv("TARN1_IAM_ALIAS_RULES", (std::string(folder) + "/alias.conf").c_str(), 1);
    ::setenv("TARN1_IAM_POLICY", (std::string(folder) + "/policy.conf").c_str(), 1);
    ::setenv("ARA_LOG_CONSOLE", "0", 1);
    ::setenv("ARA_LOG_DLT", "0", 1);
    // the daemon's own logging settings: debug messages are off
    ara::log::InitLogging("BNCH", "iam_bench", ara::log::LogLevel::kInfo, ara::log::LogMode::kRemote, "");
    constexpr int decode_rounds = 20000;
    const std::string_view request_text(request.data(), request.size() - 1);
    auto decode_started = Clock::now();
    for (int i = 0; i < decode_rounds; ++i)
    {
        (void)decode_request(request_text);
    }
    const double decode_us =
        std::chrono::duration<double, std::micro>(Clock::now() - decode_started).count() / decode_rounds;
    decode_started = Clock::now();
    for (int i = 0; i < decode_rounds; ++i)
    {
        (void)decode_request_with_archive(request_text);
    }
    const double archive_us =
        std::chrono::duration<double, std::micro>(Clock::now() - decode_started).count() / decode_rounds;
    Request_handler handler;
    decode_started = Clock::now();
    for (int i = 0; i < decode_rounds; ++i)
    {
        (void)encoded_response(handler.handle(*decode_request(request_text)).decision);
    }
    const double handle_us =
        std::chrono::duration<double, std::micro>(Clock::now() - decode_started).count() / decode_rounds;

    const pid_t echo = start_echo_server();
    pin_to_cpu(0);
    const std::string daemon_socket = "/var/run/adaptive/tarn1_iam/iam";
    ::close(connect_to(daemon_socket));
    ::close(connect_to(echo_socket));

    // one round of each, twice, so neither side profits from running later
    Latency echo_latency{};
    Latency daemon_latency{};
    double echo_throughput = 0;
    double daemon_throughput = 0;
    for (int round = 0; round < 2; ++round)
    {
        const auto e = measure_latency(echo_socket, request, options.round_trips / 2);
        const auto d = measure_latency(daemon_socket, request, options.round_trips / 2);
        echo_latency = round == 0 ? e
                                  : Latency{(echo_latency.p50_us + e.p50_us) / 2,
                                            (echo_latency.p99_us + e.p99_us) / 2,
                                            (echo_latency.mean_us + e.mean_us) / 2};
        daemon_latency = round == 0 ? d
                                    : Latency{(daemon_latency.p50_us + d.p50_us) / 2,
                                              (daemon_latency.p99_us + d.p99_us) / 2,
                                              (daemon_latency.mean_us + d.mean_us) / 2};
        echo_throughput += measure_throughput(echo_socket, request, options.connections, options.seconds / 2) / 2;
        daemon_throughput += measure_throughput(daemon_socket, request, options.connections, options.seconds / 2) / 2;
    }
    const long daemon_idle_start = resident_kib(daemon->pid());
    const long daemon_idle = resident_with_idle(daemon->pid(), daemon_socket, request, options.idle);
    const long echo_idle = resident_with_idle(echo, echo_socket, request, options.idle);

    daemon->send(SIGTERM);
    const int daemon_status = daemon->wait_for_exit(std::chrono::seconds{30});
    (void)stop(echo);
    std::remove((std::string(folder) + "/alias.conf").c_str());
    std::remove((std::string(folder) + "/policy.conf").c_str());
    ::rmdir(folder);

    std::printf("request: %zu bytes (POSIX call, allowed)\n", request.size());
    std::printf("in-process: decode %.2f us (through the text input archive: %.2f us); "
                "decode + decide + pick response %.2f us\n",
                decode_us,
                archive_us,
                handle_us);
    std::printf("%-34s %12s %12s %8s\n", "", "raw echo", "daemon", "ratio");
    std::printf("%-34s %12.1f %12.1f %8.2f\n",
                "round trip p50 [us], 1 connection",
                echo_latency.p50_us,
                daemon_latency.p50_us,
                daemon_latency.p50_us / echo_latency.p50_us);
    std::printf("%-34s %12.1f %12.1f %8.2f\n",
                "round trip p99 [us], 1 connection",
                echo_latency.p99_us,
                daemon_latency.p99_us,
                daemon_latency.p99_us / echo_latency.p99_us);
    std::printf("%-34s %12.0f %12.0f %8.2f\n",
                "round trips/s, connections",
                echo_throughput,
                daemon_throughput,
                daemon_throughput / echo_throughput);
    std::printf("  (%d connections)\n", options.connections);
    std::printf("%-34s %12ld %12ld\n", "resident KiB, idle connections", echo_idle, daemon_idle);
    std::printf("  (%d idle connections; daemon before them: %ld KiB)\n", options.idle, daemon_idle_start);
    std::printf("daemon exit status after SIGTERM: %d\n", daemon_status);
    return daemon_status == 0 ? 0 : 1;
}
