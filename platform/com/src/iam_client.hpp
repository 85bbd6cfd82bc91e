#pragma once

#include "clock.hpp"
#include "io_loop.hpp"
#include "vela/iam/messages.hpp"

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kest::com::internal
{

/// The IAM daemon as the middleware asks it: one access check of a local process at a time, each
/// answered with the daemon's decision or, when the daemon cannot be reached, fails on the socket
/// or does not answer in time, with none.
class Iam_client_interface
{
  public:
    using Done = std::function<void(std::optional<vela::iam::Decision>)>;

    virtual ~Iam_client_interface() = default;

    /// Asks about request without waiting: done runs exactly once, never inside this call, on the
    /// I/O thread, with the daemon's decision, or with none once deadline has passed without one.
    /// Any thread.
    virtual void check(const vela::iam::Check_request_posix& request, Clock::time_point deadline, Done done) = 0;
    /// Asks about request and waits at most timeout for the decision; none when it did not come.
    /// Any thread (on the I/O thread, which cannot wait for itself, over a connection of its own).
    virtual std::optional<vela::iam::Decision> check_now(const vela::iam::Check_request_posix& request,
                                                         std::chrono::milliseconds timeout) = 0;
    /// Drops what waits without answering it and lets go of the socket; before the loop ends.
    virtual void stop() = 0;

  protected:
    Iam_client_interface() = default;
    Iam_client_interface(const Iam_client_interface&) = default;
    Iam_client_interface& operator=(const Iam_client_interface&) = default;
};

/// The client of the IAM daemon's unix socket. The daemon takes one request per receive and
/// answers the requests of one connection strictly one after the other, so checks queue here and
/// one at a time is on the wire; its answer (a text ending in a zero byte) is read by the I/O
/// thread. A check whose deadline passes on the wire closes the connection, so that its late
/// answer is never taken for the next check's; the next check connects anew. A connection that
/// breaks before answering is tried once more on a new one.
class Iam_client final : public Iam_client_interface,
                         public Io_handler,
                         public Deadline_target,
                         public std::enable_shared_from_this<Iam_client>
{
  public:
    /// Checks waiting at once; beyond it a check gets no decision at once.
    static constexpr std::size_t s_max_queued = 1024;
    /// The daemon's answers are a few dozen bytes; a longer one is no answer.
    static constexpr std::size_t s_max_answer = 1024;
    /// How much longer than its timeout check_now waits for the I/O thread to report the outcome.
    static constexpr std::chrono::milliseconds s_wait_margin{1000};

    Iam_client(Io_loop& loop, std::string socket_path);
    ~Iam_client() override;

    Iam_client(const Iam_client&) = delete;
    Iam_client& operator=(const Iam_client&) = delete;

    void check(const vela::iam::Check_request_posix& request, Clock::time_point deadline, Done done) override;
    std::optional<vela::iam::Decision> check_now(const vela::iam::Check_request_posix& request,
                                                 std::chrono::milliseconds timeout) override;
    void stop() override;

    void on_io(std::uint32_t events) override;
    void on_deadline(std::uint64_t tag) override;

  private:
    struct Pending
    {
        std::string text;
        Clock::time_point deadline;
        Done done;
        // Connections this check was sent on; one that broke before answering gets one more.
        int sent{0};
    };
    using Finished = std::vector<std::pair<Done, std::optional<vela::iam::Decision>>>;
    enum class Read_result
    {
        /// Nothing more to read now; the connection stays.
        kKeep,
        /// The connection ended before the answer: the check on the wire may be asked again.
        kDropRetry,
        /// The daemon sent something that is no answer: the check on the wire gets no decision.
        kDropFail,
    };

    /// Under m_mutex: sends the head of the queue when nothing is on the wire, connecting first if
    /// needed; checks that cannot be sent are finished without a decision.
    void send_next(Finished& finished);
    /// Under m_mutex: connects; false (logged) when the daemon cannot be reached.
    bool connect_locked();
    /// Under m_mutex: closes the connection; the check on the wire is tried again when it may be.
    void drop_connection(bool retry, Finished& finished);
    /// Under m_mutex: arms the loop's deadline for the earliest check unless one earlier is armed.
    void arm_deadline();
    /// Under m_mutex: reads what the daemon sent; answered checks go to finished.
    Read_result read_answer(Finished& finished);
    static void run(Finished& finished);
    void log_failure(std::uint64_t kind, const std::string& text);

    Io_loop& m_loop;
    const std::string m_path;
    // Guards everything below: met by the threads asking (the I/O thread, an offering thread) and
    // the I/O thread reading answers and running deadlines.
    std::mutex m_mutex;
    int m_fd{-1};
    bool m_on_wire{false};
    bool m_stopped{false};
    std::deque<Pending> m_queue;
    std::string m_answer;
    std::optional<Clock::time_point> m_armed;
};

} // namespace kest::com::internal
