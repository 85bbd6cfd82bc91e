#include "tools/simulator/poweroff_reader.hpp"

#include "tools/simulator/errno_text.hpp"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn1::simulator
{

Poweroff_reader::Poweroff_reader(Journal& journal, std::string path)
    : m_journal(journal)
    , m_path(std::move(path))
{
}

Poweroff_reader::~Poweroff_reader()
{
    stop();
}

bool Poweroff_reader::start(std::string& error)
{
    if (::mkfifo(m_path.c_str(), 0600) != 0 && errno != EEXIST)
    {
        error = errno_text("cannot make " + m_path);
        return false;
    }
    // Read and write, so that the pipe never reports a hang-up while the daemon has it closed.
    m_fd = ::open(m_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
    {
        error = errno_text("cannot open " + m_path);
        return false;
    }
    return m_thread.start([this](int stop_fd) { read_lines(stop_fd); }, error);
}

void Poweroff_reader::stop()
{
    m_thread.stop();
    if (m_fd >= 0)
    {
        ::close(m_fd);
        m_fd = -1;
    }
}

void Poweroff_reader::read_lines(int stop_fd)
{
    std::string pending;
    for (;;)
    {
        pollfd waits[2] = {{stop_fd, POLLIN, 0}, {m_fd, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 && errno != EINTR)
        {
            break;
        }
        if ((waits[0].revents & POLLIN) != 0)
        {
            break;
        }
        char buffer[1024];
        const ssize_t count = ::read(m_fd, buffer, sizeof buffer);
        if (count <= 0)
        {
            continue;
        }
        pending.append(buffer, static_cast<std::size_t>(count));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos)
        {
            m_journal.add("poweroff", pending.substr(0, end));
            pending.erase(0, end + 1);
        }
    }
}

} // namespace tarn1::simulator
