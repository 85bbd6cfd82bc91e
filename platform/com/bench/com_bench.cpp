// Round-trip benchmark of the middleware: a method call between two processes beside a raw unix
// socket request/response of the same size, measured in the same run with the same CPU placement,
// with access control off and on (a provider that asks an IAM stand-in, with its decisions cached).
//   com_bench [--calls N] [--payload BYTES] [--placement same|cross] [--callers N] [--first N]
// Prints p50/p99 latency with one caller and throughput with 64 concurrent callers, once with both
// processes on one CPU and once across two CPUs (when the machine has two); then the first call on
// a new connection (whose access checks nothing has cached yet) beside the second, and the memory
// the decision cache takes per entry.
#include "ara/com/internal/skeleton/skeleton.h"
#include "kest/com/cpp_binding/method_impl_base.h"
#include "kest/com/cpp_binding/rport.h"
#include "kest/com/runtime/component_singleton.h"
#include "platform/com/src/access_control.hpp"
#include "vela/iam/messages.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <optional>
#include <sched.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
using vela::com::runtime::Serialized_payload;

struct Bench_interface
{
    static const char* service_identifier() { return "tarn1::bench::Echo"; }
    static kest::com::connector::Service_interface_description description() { return {service_identifier(), 0, 1}; }
};

class Echo_skeleton : public ara::com::internal::skeleton::Skeleton<Bench_interface>
{
  public:
    explicit Echo_skeleton(const std::string& instance)
        : Skeleton(instance, kest::com::cpp_binding::Method_call_processing_mode::kEvent)
        , m_echo(
              0,
              [](const Serialized_payload& request, const kest::com::cpp_binding::Reply_token& reply)
              { kest::com::cpp_binding::Method_impl_base::reply_method(reply, request, 0); },
              method_dispatcher())
    {
    }
    ~Echo_skeleton() override { StopOfferService(); }

  private:
    kest::com::cpp_binding::Method_impl_base m_echo;
};

void pin_to(int cpu)
{
    if (cpu < 0)
    {
        return;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

bool read_all(int fd, std::uint8_t* data, std::size_t size)
{
    while (size > 0)
    {
        const ssize_t got = ::read(fd, data, size);
        if (got <= 0)
        {
            return false;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

/// The raw baseline server: one epoll thread echoing fixed-size frames on every connection.
void raw_server(const std::string& path, std::size_t frame)
{
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    // Unchecked: a failed bind shows up as every connect to path failing.
    (void)::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 128);
    const int epoll = ::epoll_create1(0);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener;
    ::epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &event);
    std::vector<std::uint8_t> buffer(frame);
    epoll_event events[64];
    for (;;)
    {
        const int count = ::epoll_wait(epoll, events, 64, -1);
        for (int i = 0; i < count; ++i)
        {
            const int fd = events[i].data.fd;
            if (fd == listener)
            {
                const int client = ::accept(listener, nullptr, nullptr);
                epoll_event added{};
                added.events = EPOLLIN;
                added.data.fd = client;
                ::epoll_ctl(epoll, EPOLL_CTL_ADD, client, &added);
                continue;
            }
            if (!read_all(fd, buffer.data(), frame) || ::write(fd, buffer.data(), frame) != static_cast<ssize_t>(frame))
            {
                ::epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
                ::close(fd);
            }
        }
    }
}

/// The IAM stand-in: allows every request, one connection at a time per thread like the daemon
/// (one receive is one request, decoded, answered with a zero byte after the response).
void iam_responder(const std::string& path)
{
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    // Unchecked: a failed bind shows up as every connect to path failing.
    (void)::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 128);
    const std::string& allowed = vela::iam::encoded_response(vela::iam::Decision::allowed);
    for (;;)
    {
        const int client = ::accept(listener, nullptr, nullptr);
        std::thread(
            [client, &allowed]
            {
                char request[1024];
                ssize_t got = 0;
                while ((got = ::read(client, request, sizeof request - 1)) > 0)
                {
                    request[got] = '\0';
                    (void)vela::iam::decode_request(request);
                    if (::write(client, allowed.c_str(), allowed.size() + 1) < 0)
                    {
                        break;
                    }
                }
                ::close(client);
            })
            .detach();
    }
}

/// A process that offers the echo service as instance, on cpu; access control on when iam_socket
/// is given. Returns once it offers.
pid_t start_provider(const std::string& instance, int cpu, const std::string& iam_socket)
{
    int ready[2];
    if (::pipe(ready) != 0)
    {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        pin_to(cpu);
        ::close(ready[0]);
        if (!iam_socket.empty())
        {
            ::setenv("TARN1_COM_IAM_SOCKET", iam_socket.c_str(), 1);
        }
        kest::com::runtime::Component_singleton runtime(false, "bench-server");
        Echo_skeleton echo(instance);
        echo.OfferService();
        (void)!::write(ready[1], "r", 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    (void)!::read(ready[0], &byte, 1);
    ::close(ready[0]);
    return pid;
}

std::optional<kest::com::cpp_binding::Service_handle> find_instance(kest::com::runtime::Component_singleton& runtime,
                                                                    const std::string& instance)
{
    for (int attempt = 0; attempt < 1000; ++attempt)
    {
        const auto found = runtime.get_service_finder().find_service(
            vela::com::runtime::Service_id(Bench_interface::service_identifier()),
            vela::com::runtime::Instance_id(instance));
        if (!found.empty())
        {
            return found.front();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::nullopt;
}

struct Result
{
    double p50_us{0};
    double p99_us{0};
    double calls_per_second{0};
};

Result summarize(std::vector<double>& latencies, std::size_t calls, Clock::duration elapsed)
{
    Result result;
    if (!latencies.empty())
    {
        std::sort(latencies.begin(), latencies.end());
        result.p50_us = latencies[latencies.size() / 2];
        result.p99_us = latencies[latencies.size() * 99 / 100];
    }
    result.calls_per_second = static_cast<double>(calls) / std::chrono::duration<double>(elapsed).count();
    return result;
}

/// Runs callers threads, each making calls_each round trips through round_trip(thread index).
template <typename Round_trip> Result measure(std::size_t callers, std::size_t calls_each, Round_trip round_trip)
{
    std::vector<std::vector<double>> latencies(callers);
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (std::size_t t = 0; t < callers; ++t)
    {
        threads.emplace_back(
            [&, t]
            {
                latencies[t].reserve(calls_each);
                while (!go.load())
                {
                    std::this_thread::yield();
                }
                for (std::size_t i = 0; i < calls_each; ++i)
                {
                    const auto started = Clock::now();
                    round_trip(t);
                    latencies[t].push_back(std::chrono::duration<double, std::micro>(Clock::now() - started).count());
                }
            });
    }
    const auto started = Clock::now();
    go = true;
    for (auto& thread : threads)
    {
        thread.join();
    }
    const auto elapsed = Clock::now() - started;
    std::vector<double> all;
    for (auto& part : latencies)
    {
        all.insert(all.end(), part.begin(), part.end());
    }
    return summarize(all, callers * calls_each, elapsed);
}

int connect_raw(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    for (int attempt = 0; attempt < 1000; ++attempt)
    {
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        {
            return fd;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return -1;
}

void print(const char* placement, const char* test, std::size_t callers, const Result& result)
{
    std::printf("%-10s %-12s %7zu %9.1f %9.1f %12.0f\n",
                placement,
                test,
                callers,
                result.p50_us,
                result.p99_us,
                result.calls_per_second);
    std::fflush(stdout);
}

// Rows to run: every caller count of the list unless one is chosen.
std::vector<std::size_t> g_callers{1, 64};
// New connections whose first call is timed.
std::size_t g_first_calls = 200;

/// The first and the second call on each of count new connections to handle.
void first_calls(const char* placement,
                 const char* test,
                 const kest::com::cpp_binding::Service_handle& handle,
                 const Serialized_payload& request,
                 std::size_t count)
{
    std::vector<double> first;
    std::vector<double> second;
    Clock::duration first_total{};
    Clock::duration second_total{};
    for (std::size_t i = 0; i < count; ++i)
    {
        kest::com::cpp_binding::Rport port(handle, Bench_interface::description());
        const auto started = Clock::now();
        port.call_method(0, request).get();
        const auto answered = Clock::now();
        port.call_method(0, request).get();
        const auto again = Clock::now();
        first_total += answered - started;
        second_total += again - answered;
        first.push_back(std::chrono::duration<double, std::micro>(answered - started).count());
        second.push_back(std::chrono::duration<double, std::micro>(again - answered).count());
    }
    print(placement, (std::string(test) + "-1st").c_str(), 1, summarize(first, count, first_total));
    print(placement, (std::string(test) + "-2nd").c_str(), 1, summarize(second, count, second_total));
}

void run_placement(const char* placement, int client_cpu, int server_cpu, std::size_t calls, std::size_t payload_size)
{
    char directory_template[] = "/tmp/tarn1_com_bench_XXXXXX";
    const std::string directory = ::mkdtemp(directory_template);
    ::setenv("TARN1_COM_DIR", directory.c_str(), 1);
    const std::string raw_path = directory + "/raw.sock";
    const std::string iam_path = directory + "/iam.sock";
    const std::size_t frame = 16 + payload_size;

    const pid_t raw = ::fork();
    if (raw == 0)
    {
        pin_to(server_cpu);
        raw_server(raw_path, frame);
        ::_exit(0);
    }
    const pid_t iam = ::fork();
    if (iam == 0)
    {
        pin_to(server_cpu);
        iam_responder(iam_path);
        ::_exit(0);
    }
    const pid_t plain = start_provider("plain", server_cpu, "");
    const pid_t checked = start_provider("checked", server_cpu, iam_path);
    pin_to(client_cpu);

    // raw unix socket request/response, one connection per caller
    for (const std::size_t callers : g_callers)
    {
        std::vector<int> sockets;
        for (std::size_t i = 0; i < callers; ++i)
        {
            sockets.push_back(connect_raw(raw_path));
        }
        std::vector<std::vector<std::uint8_t>> buffers(callers, std::vector<std::uint8_t>(frame, 1));
        const auto result = measure(callers,
                                    calls / callers,
                                    [&](std::size_t t)
                                    {
                                        (void)!::write(sockets[t], buffers[t].data(), frame);
                                        read_all(sockets[t], buffers[t].data(), frame);
                                    });
        print(placement, "raw-unix", callers, result);
        for (const int fd : sockets)
        {
            ::close(fd);
        }
    }

    // method calls through the middleware, all callers sharing one proxy: without access control,
    // then with it (the connection's decisions cached by the warm-up)
    {
        kest::com::runtime::Component_singleton runtime(false, "bench-client");
        const auto plain_handle = find_instance(runtime, "plain");
        const auto checked_handle = find_instance(runtime, "checked");
        if (plain_handle && checked_handle)
        {
            const Serialized_payload request(std::vector<std::uint8_t>(payload_size, 1));
            kest::com::cpp_binding::Rport plain_port(*plain_handle, Bench_interface::description());
            kest::com::cpp_binding::Rport checked_port(*checked_handle, Bench_interface::description());
            checked_port.call_method(0, request).get();
            for (const std::size_t callers : g_callers)
            {
                print(
                    placement,
                    "com-call",
                    callers,
                    measure(callers, calls / callers, [&](std::size_t) { plain_port.call_method(0, request).get(); }));
                print(placement,
                      "com-acl",
                      callers,
                      measure(
                          callers, calls / callers, [&](std::size_t) { checked_port.call_method(0, request).get(); }));
            }
            first_calls(placement, "com-call", *plain_handle, request, g_first_calls);
            first_calls(placement, "com-acl", *checked_handle, request, g_first_calls);
        }
        else
        {
            std::printf("%s: the benchmark services were not found\n", placement);
        }
    }

    for (const pid_t pid : {raw, iam, plain, checked})
    {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    std::string command = "rm -rf '" + directory + "'";
    (void)!std::system(command.c_str());
}

/// Heap bytes one decision takes in a connection's cache filled to its bound.
void cache_memory()
{
    using namespace kest::com::internal;
    const std::size_t entries = Decision_cache::s_max_entries;
    const auto before = ::mallinfo2().uordblks;
    {
        Decision_cache cache;
        const auto now = Clock::now();
        for (std::size_t i = 0; i < entries; ++i)
        {
            cache.store(Access_key{Peer_identity{4711, 123456, 1000, 1000},
                                   0x1e29,
                                   static_cast<std::uint16_t>(i),
                                   vela::iam::Operation::Call_method},
                        Verdict::kAllowed,
                        now);
        }
        const auto after = ::mallinfo2().uordblks;
        std::printf("decision cache: %zu entries take %zu heap bytes, %.0f bytes per entry\n",
                    entries,
                    after - before,
                    static_cast<double>(after - before) / static_cast<double>(entries));
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t calls = 20000;
    std::size_t payload = 16;
    std::string placement = "both";
    for (int i = 1; i + 1 < argc; i += 2)
    {
        if (std::strcmp(argv[i], "--calls") == 0)
        {
            calls = std::strtoul(argv[i + 1], nullptr, 10);
        }
        else if (std::strcmp(argv[i], "--payload") == 0)
        {
            payload = std::strtoul(argv[i + 1], nullptr, 10);
        }
        else if (std::strcmp(argv[i], "--placement") == 0)
        {
            placement = argv[i + 1];
        }
        else if (std::strcmp(argv[i], "--callers") == 0)
        {
            g_callers = {std::max<std::size_t>(std::strtoul(argv[i + 1], nullptr, 10), 1)};
        }
        else if (std::strcmp(argv[i], "--first") == 0)
        {
            g_first_calls = std::max<std::size_t>(std::strtoul(argv[i + 1], nullptr, 10), 1);
        }
    }
    calls = std::max<std::size_t>(calls, 64);
    std::printf("%zu round trips per row, %zu payload bytes after the 16-byte header\n", calls, payload);
    std::printf("%-10s %-12s %7s %9s %9s %12s\n", "placement", "test", "callers", "p50_us", "p99_us", "calls/s");
    if (placement != "cross")
    {
        run_placement("same-cpu", 0, 0, calls, payload);
    }
    if (placement != "same" && std::thread::hardware_concurrency() >= 2)
    {
        run_placement("cross-cpu", 0, 1, calls, payload);
    }
    cache_memory();
    return 0;
}
