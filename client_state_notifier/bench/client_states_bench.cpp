// Measures a full request round of the client states server against clients in other
// processes, beside the raw floor of the same exchange: one thread polling the same number of
// unix-socket clients, sending each a request frame and waiting for every answer.
//
//   client_states_bench [rounds] [sizes...]      (defaults: 50 rounds, sizes 10 100 1000)

#include "client_state_notifier/client_states.hpp"
#include "client_state_notifier/frame_reader.hpp"
#include "client_state_notifier/utilities.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
using client_state_notifier::Callback_status;
using client_state_notifier::Result_map;
using utilities::Socket;

constexpr std::size_t s_responders = 2;

Socket connect_to(const std::string& path)
{
    Socket socket(AF_UNIX, SOCK_STREAM, 0);
    const auto address = utilities::create_unix_address(path);
    auto stop = utilities::socket_pair();
    if (!socket.try_connect(address, stop.first))
    {
        std::_Exit(3);
    }
    return socket;
}

/// The body of a responder process: count clients on each socket path, answering every request.
[[noreturn]] void respond(const Socket& control,
                          std::size_t first,
                          std::size_t count,
                          const std::string& server_path,
                          const std::string& floor_path)
{
    std::uint8_t go = 0;
    control.recvl(&go, 1, 0);
    std::vector<Socket> sockets;
    sockets.reserve(2 * count);
    for (const auto* path : {&server_path, &floor_path})
    {
        for (std::size_t index = 0; index < count; ++index)
        {
            sockets.push_back(connect_to(*path));
            utilities::send_type_length_values(
                sockets.back(),
                utilities::Elements{utilities::Type_length_value(utilities::get_protocol_version_one()),
                                    utilities::Type_length_value("bench_" + std::to_string(first + index)),
                                    utilities::Type_length_value(std::string("kOn"))});
        }
    }
    std::vector<utilities::Frame_reader> readers(sockets.size());
    std::vector<pollfd> fds;
    fds.reserve(sockets.size() + 1);
    for (const auto& socket : sockets)
    {
        fds.push_back(pollfd{socket.get_fd(), POLLIN, 0});
    }
    fds.push_back(pollfd{control.get_fd(), POLLIN, 0});
    utilities::Frame_view request;
    utilities::Bytes answer;
    while (true)
    {
        for (auto& fd : fds)
        {
            fd.revents = 0;
        }
        utilities::poll(fds, -1);
        if (fds.back().revents != 0)
        {
            std::_Exit(0);
        }
        for (std::size_t index = 0; index < sockets.size(); ++index)
        {
            if (fds[index].revents == 0)
            {
                continue;
            }
            try
            {
                readers[index].read_available(sockets[index]);
                while (readers[index].next_frame(request))
                {
                    utilities::write_state_change_response(
                        answer, request.elements[0].get_uint32(), request.elements[1].get_string(), 0);
                    sockets[index].sendl(answer.data(), answer.size(), 0);
                }
            }
            catch (const std::exception&)
            {
                std::_Exit(0);
            }
        }
    }
}

/// The raw floor: the same exchange without the library's bookkeeping.
class Floor
{
  public:
    explicit Floor(const std::string& path)
        : m_listening(AF_UNIX, SOCK_STREAM, 0)
    {
        const auto address = utilities::create_unix_address(path);
        if (::bind(m_listening.get_fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        {
            std::perror("bind");
            std::exit(2);
        }
        m_listening.listen(4096);
    }

    void accept_clients(std::size_t count)
    {
        for (std::size_t index = 0; index < count; ++index)
        {
            m_clients.emplace_back(::accept(m_listening.get_fd(), nullptr, nullptr));
            utilities::receive_type_length_values(m_clients.back());
            m_fds.push_back(pollfd{m_clients.back().get_fd(), POLLIN, 0});
        }
        m_readers.resize(count);
    }

    Clock::duration round(std::uint32_t id)
    {
        const auto started = Clock::now();
        utilities::write_state_change_request(m_buffer, id, "kPrepSD");
        for (const auto& client : m_clients)
        {
            client.sendl(m_buffer.data(), m_buffer.size(), 0);
        }
        std::size_t answered = 0;
        while (answered < m_clients.size())
        {
            for (auto& fd : m_fds)
            {
                fd.revents = 0;
            }
            utilities::poll(m_fds, -1);
            for (std::size_t index = 0; index < m_clients.size(); ++index)
            {
                if (m_fds[index].revents != 0)
                {
                    m_readers[index].read_available(m_clients[index]);
                    while (m_readers[index].next_frame(m_view))
                    {
                        ++answered;
                    }
                }
            }
        }
        return Clock::now() - started;
    }

  private:
    Socket m_listening;
    std::vector<Socket> m_clients;
    std::vector<pollfd> m_fds;
    std::vector<utilities::Frame_reader> m_readers;
    utilities::Bytes m_buffer;
    utilities::Frame_view m_view;
};

/// Waits for the completion callback of one round and keeps its time.
class Round_waiter
{
  public:
    client_state_notifier::Completion_callback callback()
    {
        return [this](Callback_status status, const Result_map& results)
        {
            const auto now = Clock::now();
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = now;
            m_ok = status == Callback_status::success;
            m_count = results.size();
            m_finished = true;
            m_changed.notify_all();
        };
    }

    Clock::duration wait(Clock::time_point started, std::size_t expected)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_finished; });
        m_finished = false;
        if (!m_ok || m_count != expected)
        {
            std::fprintf(stderr, "round failed: %zu results of %zu\n", m_count, expected);
            std::exit(4);
        }
        return m_done - started;
    }

  private:
    // The server thread reports, the main thread waits.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_finished{false};
    bool m_ok{false};
    std::size_t m_count{0};
    Clock::time_point m_done;
};

double to_ms(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

double percentile(std::vector<Clock::duration> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::lround(fraction * static_cast<double>(values.size() - 1)));
    return to_ms(values[index]);
}

void raise_descriptor_limit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max)
    {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void measure(std::size_t size, std::size_t rounds)
{
    const auto directory = utilities::create_tmp_dir();
    const auto server_path = directory.get_path() + "/server.socket";
    const auto floor_path = directory.get_path() + "/floor.socket";

    // Responders are forked while this process has one thread only.
    std::vector<pid_t> children;
    std::vector<Socket> controls;
    std::size_t first = 0;
    for (std::size_t responder = 0; responder < s_responders; ++responder)
    {
        const auto count = size / s_responders + (responder < size % s_responders ? 1 : 0);
        auto pair = utilities::socket_pair();
        const pid_t pid = ::fork();
        if (pid == 0)
        {
            // Only the parent may hold the other ends, or no responder would see it hang up.
            pair.first = Socket();
            controls.clear();
            respond(pair.second, first, count, server_path, floor_path);
        }
        children.push_back(pid);
        controls.push_back(std::move(pair.first));
        first += count;
    }

    Floor floor(floor_path);
    const auto heap_before = ::mallinfo2().uordblks;
    client_state_notifier::Server_options options;
    options.socket_path = server_path;
    // The largest sizes are beyond the production bounds; the bench measures rounds, not refusals.
    options.max_clients = std::max(options.max_clients, size);
    options.max_waiting_for_hello = std::max(options.max_waiting_for_hello, size);
    auto server = client_state_notifier::create_client_states(
        "kOn", [](const std::string&, auto, const std::string&) {}, options);
    const std::uint8_t go = 1;
    for (const auto& control : controls)
    {
        control.sendl(&go, 1, 0);
    }
    while (server->get_connected_clients().size() < size)
    {
        ::usleep(1000);
    }
    const auto heap_after = ::mallinfo2().uordblks;
    floor.accept_clients(size);

    Round_waiter waiter;
    std::vector<Clock::duration> floor_times;
    std::vector<Clock::duration> round_times;
    const auto everyone = [](const std::string&) { return true; };
    for (std::size_t round = 0; round < rounds + 3; ++round)
    {
        const auto floor_time = floor.round(static_cast<std::uint32_t>(round));
        const auto started = Clock::now();
        server->request_state_change(
            (round % 2 == 0) ? "kPrepSD" : "kOn", everyone, waiter.callback(), std::chrono::seconds(30));
        const auto round_time = waiter.wait(started, size);
        if (round >= 3)
        {
            floor_times.push_back(floor_time);
            round_times.push_back(round_time);
        }
    }
    const auto floor_median = percentile(floor_times, 0.5);
    const auto round_median = percentile(round_times, 0.5);
    std::printf("%6zu clients | floor median %8.3f ms p90 %8.3f | round median %8.3f ms p90 %8.3f | ratio %5.2f | heap "
                "per client %6.0f B\n",
                size,
                floor_median,
                percentile(floor_times, 0.9),
                round_median,
                percentile(round_times, 0.9),
                round_median / floor_median,
                static_cast<double>(heap_after - heap_before) / static_cast<double>(size));
    std::fflush(stdout);

    controls.clear();
    for (const auto pid : children)
    {
        ::waitpid(pid, nullptr, 0);
    }
}

} // namespace

int main(int argc, char** argv)
{
    raise_descriptor_limit();
    const std::size_t rounds = (argc > 1) ? std::strtoul(argv[1], nullptr, 10) : 50;
    std::vector<std::size_t> sizes;
    for (int index = 2; index < argc; ++index)
    {
        sizes.push_back(std::strtoul(argv[index], nullptr, 10));
    }
    if (sizes.empty())
    {
        sizes = {10, 100, 1000};
    }
    std::printf("%zu measured rounds per size, %zu responder processes\n", rounds, s_responders);
    for (const auto size : sizes)
    {
        measure(size, rounds);
    }
    return 0;
}
