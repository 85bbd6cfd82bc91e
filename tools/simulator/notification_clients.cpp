#include "tools/simulator/notification_clients.hpp"

#include "tools/simulator/errno_text.hpp"

#include <cstdint>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarn1::simulator
{

Sim_client::Sim_client(const std::string& name, Client_mode mode, std::chrono::milliseconds delay, Journal& journal)
    : m_name(name)
    , m_journal(journal)
    , m_mode(mode)
    , m_delay(delay)
{
    m_client = std::make_unique<client_state_notifier::Component_client>(
        name, [this](const std::string& requested) { return handle(requested); });
}

Sim_client::~Sim_client()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_client.reset();
}

void Sim_client::set_mode(Client_mode mode, std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mode = mode;
    m_delay = delay;
}

client_state_notifier::State_change_answer Sim_client::handle(const std::string& requested)
{
    using client_state_notifier::Component_client_return_type;
    m_journal.add("client", m_name + " got " + requested);
    std::unique_lock<std::mutex> lock(m_mutex);
    const Client_mode mode = m_mode;
    if (mode == Client_mode::never)
    {
        m_wake.wait(lock, [this] { return m_stopping; });
        return client_state_notifier::State_change_answer{m_state, Component_client_return_type::general_error};
    }
    if (mode == Client_mode::late && m_wake.wait_for(lock, m_delay, [this] { return m_stopping; }))
    {
        return client_state_notifier::State_change_answer{m_state, Component_client_return_type::general_error};
    }
    if (mode == Client_mode::error)
    {
        m_journal.add("client", m_name + " answered error");
        return client_state_notifier::State_change_answer{m_state, Component_client_return_type::general_error};
    }
    m_state = requested;
    m_journal.add("client", m_name + " answered " + requested);
    return client_state_notifier::State_change_answer{requested, Component_client_return_type::success};
}

namespace
{

void append_element(std::string& frame, std::uint32_t type, const std::string& value)
{
    const std::uint64_t length = value.size();
    frame.append(reinterpret_cast<const char*>(&type), 4);
    frame.append(reinterpret_cast<const char*>(&length), 8);
    frame += value;
}

std::string make_frame(const std::string& elements)
{
    std::string frame;
    append_element(frame, 2, elements);
    return frame;
}

} // namespace

Raw_clients::Raw_clients(Journal& journal, std::string socket_path)
    : m_journal(journal)
    , m_socket_path(std::move(socket_path))
{
}

Raw_clients::~Raw_clients()
{
    close_all();
}

bool Raw_clients::add(const std::string& name, const std::string& behaviour, std::string& error)
{
    if (behaviour != "partial" && behaviour != "huge" && behaviour != "silent")
    {
        error = "unknown behaviour " + behaviour + " (partial, huge, silent)";
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, m_socket_path.c_str(), sizeof address.sun_path - 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    {
        error = errno_text("cannot connect to " + m_socket_path);
        if (fd >= 0)
        {
            ::close(fd);
        }
        return false;
    }
    m_fds.push_back(fd);
    if (behaviour != "silent")
    {
        std::string hello;
        append_element(hello, 0, "component_client_v1");
        append_element(hello, 0, name);
        append_element(hello, 0, "kOn");
        std::string bytes = make_frame(hello);
        if (behaviour == "huge")
        {
            const std::uint32_t type = 2;
            const std::uint64_t length = 0x7FFFFFFFFFFFull;
            bytes.append(reinterpret_cast<const char*>(&type), 4);
            bytes.append(reinterpret_cast<const char*>(&length), 8);
        }
        else
        {
            // Half a response header: the round has to time this client out.
            bytes.append(std::string("\x02\x00\x00\x00\x30\x00", 6));
        }
        if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
        {
            error = errno_text("cannot send");
            return false;
        }
    }
    m_journal.add("client", name + " connected raw (" + behaviour + ")");
    return true;
}

void Raw_clients::close_all()
{
    for (const int fd : m_fds)
    {
        ::close(fd);
    }
    m_fds.clear();
}

} // namespace tarn1::simulator
