#include "ara/log/logging.h"
#include "log_limits.hpp"
#include "runtime.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace kest::com::internal
{

namespace
{
constexpr std::size_t s_read_chunk = std::size_t{64} * 1024U;
constexpr int s_max_read_rounds = 16;
} // namespace

Peer_credentials Connection::credentials_of(int fd)
{
    Peer_credentials credentials;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0)
    {
        credentials.pid = peer.pid;
        credentials.uid = peer.uid;
        credentials.gid = peer.gid;
        credentials.known = true;
    }
    return credentials;
}

Connection::Connection(Io_loop& loop,
                       int fd,
                       std::weak_ptr<Connection_owner> owner,
                       std::string peer_name,
                       Peer_credentials peer,
                       Reading reading)
    : m_loop(loop)
    , m_edge_triggered(reading == Reading::kEdge)
    , m_owner(std::move(owner))
    , m_peer_name(std::move(peer_name))
    , m_peer(peer)
    , m_fd(fd)
{
}

Connection::~Connection()
{
    if (m_fd >= 0)
    {
        ::close(m_fd);
    }
}

void Connection::open()
{
    m_loop.add(m_fd, wanted_events(), shared_from_this());
}

bool Connection::send(const someip::Message_header& header, const std::uint8_t* payload, std::size_t size)
{
    std::uint8_t head[someip::kHeader_size];
    someip::encode_header(header, head);
    std::lock_guard<std::mutex> lock(m_write_mutex);
    if (m_closing || m_closed)
    {
        return false;
    }
    std::size_t written = 0;
    const std::size_t total = someip::kHeader_size + size;
    if (m_out.size() == m_out_offset)
    {
        iovec parts[2] = {{head, someip::kHeader_size}, {const_cast<std::uint8_t*>(payload), size}};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = size == 0 ? 1 : 2;
        const ssize_t sent = ::sendmsg(m_fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        {
            m_closing = true;
            ::shutdown(m_fd, SHUT_RDWR);
            return false;
        }
        written = sent < 0 ? 0 : static_cast<std::size_t>(sent);
        if (written == total)
        {
            return true;
        }
        m_out.clear();
        m_out_offset = 0;
    }
    if (m_out.size() - m_out_offset + total - written > s_max_pending_output)
    {
        if (const auto verdict = log_limit(Limited_log::kSlowReader).check(m_peer.uid); verdict.pass)
        {
            ara::log::LogWarn() << "com: peer " << m_peer_name << " does not read; connection dropped" << verdict;
        }
        m_closing = true;
        ::shutdown(m_fd, SHUT_RDWR);
        return false;
    }
    const bool was_empty = m_out.size() == m_out_offset;
    for (std::size_t i = written; i < total; ++i)
    {
        m_out.push_back(i < someip::kHeader_size ? head[i] : payload[i - someip::kHeader_size]);
    }
    if (was_empty)
    {
        m_loop.modify(m_fd, wanted_events());
    }
    return true;
}

void Connection::close()
{
    {
        std::lock_guard<std::mutex> lock(m_write_mutex);
        if (m_closing || m_closed)
        {
            return;
        }
        m_closing = true;
        ::shutdown(m_fd, SHUT_RDWR);
    }
    m_loop.post([self = shared_from_this()] { self->close_on_loop(); });
}

void Connection::on_io(std::uint32_t events)
{
    if ((events & EPOLLOUT) != 0)
    {
        flush_output();
    }
    if ((events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0)
    {
        Read_result result = Read_result::kMore;
        bool filled = false;
        {
            std::lock_guard<std::mutex> lock(m_read_mutex);
            if (!m_edge_triggered && reading_elsewhere())
            {
                // Taken before the socket left the wait; the thread reading it now sees the data.
                return;
            }
            // Edge-triggered, the socket is read until it has nothing more (a short read), in
            // bounded rounds so that one busy peer cannot keep the I/O thread to itself.
            int rounds = 0;
            do
            {
                result = read_frames(filled);
            } while (m_edge_triggered && result == Read_result::kMore && filled && ++rounds < s_max_read_rounds);
        }
        if (result != Read_result::kMore)
        {
            close_on_loop();
        }
        else if (m_edge_triggered && filled)
        {
            m_loop.post([self = shared_from_this()] { self->on_io(EPOLLIN); });
        }
    }
}

void Connection::reserve()
{
    std::lock_guard<std::mutex> lock(m_write_mutex);
    m_reserved_at = Clock::now();
    if (m_edge_triggered || m_closing || m_closed || m_read_here || m_reserved)
    {
        return;
    }
    m_reserved = true;
    m_loop.suspend(m_fd);
}

bool Connection::unreserve_unless_newer_than(Clock::time_point made)
{
    std::lock_guard<std::mutex> lock(m_write_mutex);
    if (!m_reserved)
    {
        return false;
    }
    if (m_reserved_at > made)
    {
        return true;
    }
    m_reserved = false;
    if (!m_closed)
    {
        m_loop.resume(m_fd, wanted_events());
    }
    return false;
}

bool Connection::reading_elsewhere() const
{
    return m_read_here.load(std::memory_order_acquire);
}

std::uint32_t Connection::wanted_events() const
{
    return EPOLLIN | EPOLLRDHUP | (m_edge_triggered ? static_cast<std::uint32_t>(EPOLLET) : 0U) |
           (m_out_offset < m_out.size() ? EPOLLOUT : 0U);
}

bool Connection::read_here_until(const std::function<bool()>& ready, std::chrono::milliseconds timeout)
{
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(m_write_mutex);
        if (m_edge_triggered || m_closing || m_closed || m_read_here || (!m_reserved && m_out_offset < m_out.size()))
        {
            return false;
        }
        m_read_here = true;
        fd = m_fd;
        if (!m_reserved)
        {
            m_loop.suspend(fd);
        }
        m_reserved = false;
    }
    auto self = shared_from_this();
    {
        // A read the I/O thread began before is over once this lock is ours; later ones step aside.
        std::lock_guard<std::mutex> lock(m_read_mutex);
    }
    const auto until = Clock::now() + timeout;
    while (!ready())
    {
        pollfd watched{fd, POLLIN | POLLRDHUP, 0};
        {
            std::lock_guard<std::mutex> lock(m_write_mutex);
            if (m_out_offset < m_out.size())
            {
                watched.events |= POLLOUT;
            }
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0)
        {
            break;
        }
        const int count = ::poll(&watched, 1, static_cast<int>(left.count()));
        if (count < 0 && errno == EINTR)
        {
            continue;
        }
        if (count <= 0)
        {
            break;
        }
        if ((watched.revents & POLLOUT) != 0)
        {
            flush_output();
        }
        if ((watched.revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) != 0)
        {
            Read_result result = Read_result::kMore;
            {
                std::lock_guard<std::mutex> lock(m_read_mutex);
                bool filled = false;
                result = read_frames(filled);
            }
            if (result == Read_result::kBad)
            {
                close();
            }
            if (result != Read_result::kMore)
            {
                // The end of the connection is the I/O thread's to handle.
                break;
            }
        }
    }
    bool close_waiting = false;
    std::uint32_t events = 0;
    {
        std::lock_guard<std::mutex> lock(m_write_mutex);
        m_read_here = false;
        close_waiting = m_close_waiting;
        m_close_waiting = false;
        events = wanted_events();
    }
    if (close_waiting)
    {
        m_loop.post([self] { self->close_on_loop(); });
    }
    else
    {
        m_loop.resume(fd, events);
    }
    return true;
}

void Connection::flush_output()
{
    std::lock_guard<std::mutex> lock(m_write_mutex);
    if (m_closed)
    {
        return;
    }
    while (m_out_offset < m_out.size())
    {
        const ssize_t sent =
            ::send(m_fd, m_out.data() + m_out_offset, m_out.size() - m_out_offset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0)
        {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            {
                return;
            }
            m_closing = true;
            ::shutdown(m_fd, SHUT_RDWR);
            return;
        }
        m_out_offset += static_cast<std::size_t>(sent);
    }
    m_out.clear();
    m_out_offset = 0;
    m_loop.modify(m_fd, wanted_events());
}

Frame_buffer::Frame_buffer()
{
    m_bytes.resize(s_read_chunk);
}

std::pair<std::uint8_t*, std::size_t> Frame_buffer::receive_space()
{
    compact();
    if (m_bytes.size() - m_end < s_read_chunk / 4)
    {
        m_bytes.resize(m_end + s_read_chunk);
        ++m_resizes;
    }
    return {m_bytes.data() + m_end, m_bytes.size() - m_end};
}

std::optional<Frame> Frame_buffer::next_frame()
{
    m_keep_room = false;
    if (m_check != someip::Header_check::kOk || !has_header())
    {
        return std::nullopt;
    }
    const someip::Message_header header = someip::decode_header(m_bytes.data() + m_begin);
    m_check = someip::check_header(header);
    if (m_check != someip::Header_check::kOk)
    {
        return std::nullopt;
    }
    const std::size_t frame = someip::kHeader_size + header.payload_size();
    if (m_end - m_begin < frame)
    {
        // A frame begun but not complete keeps the room made for it, so that a large frame
        // trickling in grows the buffer once.
        m_keep_room = frame >= s_read_chunk;
        if (m_bytes.size() < frame)
        {
            // Move the partial frame to the front and make room for all of it.
            compact();
            m_bytes.resize(frame + s_read_chunk);
            ++m_resizes;
        }
        return std::nullopt;
    }
    const auto begin = m_bytes.begin() + static_cast<std::ptrdiff_t>(m_begin);
    m_begin += frame;
    return Frame{
        header,
        vela::com::runtime::Serialized_payload(std::vector<std::uint8_t>(
            begin + static_cast<std::ptrdiff_t>(someip::kHeader_size), begin + static_cast<std::ptrdiff_t>(frame)))};
}

void Frame_buffer::settle(bool holding) noexcept
{
    compact();
    if (!holding && !m_keep_room && m_bytes.size() > 4 * s_read_chunk && m_end < s_read_chunk)
    {
        m_bytes.resize(s_read_chunk);
        m_bytes.shrink_to_fit();
        ++m_resizes;
    }
}

void Frame_buffer::compact() noexcept
{
    if (m_begin > 0)
    {
        std::memmove(m_bytes.data(), m_bytes.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
}

Connection::Read_result Connection::read_frames(bool& filled)
{
    filled = false;
    if (input_waits())
    {
        return Read_result::kMore;
    }
    if (m_in.has_header())
    {
        // Frames a pause left in the buffer go before anything new is read.
        const Read_result left = take_frames();
        if (left != Read_result::kMore || input_waits())
        {
            return left;
        }
    }
    const auto [space, room] = m_in.receive_space();
    const ssize_t got = ::recv(m_fd, space, room, MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
    {
        return Read_result::kEnd;
    }
    if (got < 0)
    {
        return Read_result::kMore;
    }
    filled = static_cast<std::size_t>(got) == room;
    m_in.commit_received(static_cast<std::size_t>(got));
    return take_frames();
}

Connection::Read_result Connection::take_frames()
{
    auto self = shared_from_this();
    // Frames held back by a pause keep their room too.
    bool holding = false;
    while (m_in.has_header())
    {
        if (input_waits())
        {
            holding = true;
            break;
        }
        std::optional<Frame> frame = m_in.next_frame();
        if (!frame)
        {
            break;
        }
        if (auto owner = m_owner.lock())
        {
            owner->on_frame(self, frame->header, frame->payload);
        }
        // Nothing more is taken from a connection that is being closed.
        if (m_closing.load(std::memory_order_acquire))
        {
            break;
        }
    }
    if (m_in.check() != someip::Header_check::kOk)
    {
        if (const auto verdict = log_limit(Limited_log::kBadFrame).check(m_peer.uid); verdict.pass)
        {
            ara::log::LogWarn() << "com: dropping connection of " << m_peer_name << ": bad frame ("
                                << someip::to_string(m_in.check()) << ")" << verdict;
        }
        return Read_result::kBad;
    }
    m_in.settle(holding);
    return Read_result::kMore;
}

bool Connection::room_for_a_request() const
{
    // The next frame's size is not known before it is read: room means room for the largest.
    return m_held_requests < s_max_held_requests && m_held_bytes + someip::kMax_payload <= s_max_held_bytes;
}

bool Connection::input_waits()
{
    int input = m_input.load(std::memory_order_acquire);
    while (input != kReading)
    {
        if (input == kPausedWithInput ||
            m_input.compare_exchange_weak(input, kPausedWithInput, std::memory_order_acq_rel))
        {
            return true;
        }
    }
    return false;
}

void Connection::hold_request(std::size_t payload_bytes)
{
    std::lock_guard<std::mutex> lock(m_held_mutex);
    ++m_held_requests;
    m_held_bytes += payload_bytes;
    if (!room_for_a_request())
    {
        m_input.store(kPaused, std::memory_order_release);
    }
}

void Connection::release_request(std::size_t payload_bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_held_mutex);
        m_held_requests -= std::min<std::size_t>(m_held_requests, 1);
        m_held_bytes -= std::min(m_held_bytes, payload_bytes);
        // Without input waiting (callers waiting for their replies send nothing meanwhile), the
        // pause ends here at no further cost.
        if (m_input.load(std::memory_order_acquire) == kReading || !room_for_a_request() ||
            m_input.exchange(kReading, std::memory_order_acq_rel) != kPausedWithInput)
        {
            return;
        }
    }
    // Edge-triggered, the socket reports nothing new for what arrived during the pause: read it now.
    m_loop.post([self = shared_from_this()] { self->on_io(EPOLLIN); });
}

Connection::Input_state Connection::input_state() const
{
    Input_state state{};
    {
        std::lock_guard<std::mutex> lock(m_read_mutex);
        state.buffered = m_in.buffered();
        state.buffer_size = m_in.capacity();
        state.buffer_resizes = m_in.resizes();
    }
    std::lock_guard<std::mutex> lock(m_held_mutex);
    state.held_requests = m_held_requests;
    state.held_bytes = m_held_bytes;
    state.paused = m_input.load(std::memory_order_relaxed) != kReading;
    return state;
}

void Connection::close_on_loop()
{
    auto self = shared_from_this();
    {
        std::lock_guard<std::mutex> lock(m_write_mutex);
        if (m_closed)
        {
            return;
        }
        m_closing = true;
        if (m_read_here)
        {
            // The reading thread ends on the hang-up and hands the close back to this thread.
            m_close_waiting = true;
            ::shutdown(m_fd, SHUT_RDWR);
            return;
        }
        m_closed = true;
        m_loop.remove(m_fd);
        ::close(m_fd);
        m_fd = -1;
    }
    if (auto owner = m_owner.lock())
    {
        owner->on_closed(self);
    }
}

} // namespace kest::com::internal
