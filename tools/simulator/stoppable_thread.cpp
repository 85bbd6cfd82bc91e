#include "tools/simulator/stoppable_thread.hpp"

#include "tools/simulator/errno_text.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace tarn1::simulator
{

Stoppable_thread::~Stoppable_thread()
{
    stop();
}

bool Stoppable_thread::start(std::function<void(int stop_fd)> body, std::string& error)
{
    if (::pipe2(m_stop_pipe, O_CLOEXEC) != 0)
    {
        error = errno_text("pipe");
        return false;
    }
    m_thread = std::thread([body = std::move(body), stop_fd = m_stop_pipe[0]] { body(stop_fd); });
    return true;
}

void Stoppable_thread::stop()
{
    if (m_stop_pipe[1] >= 0)
    {
        (void)!::write(m_stop_pipe[1], "x", 1);
    }
    if (m_thread.joinable())
    {
        m_thread.join();
    }
    for (int& fd : m_stop_pipe)
    {
        if (fd >= 0)
        {
            ::close(fd);
            fd = -1;
        }
    }
}

} // namespace tarn1::simulator
