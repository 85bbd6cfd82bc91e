#include "tools/simulator/control_file_watcher.hpp"

#include "tools/simulator/word_splitter.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn1::simulator
{

Control_file_watcher::Control_file_watcher(Journal& journal, std::string folder)
    : m_journal(journal)
    , m_folder(std::move(folder))
{
}

bool Control_file_watcher::start(std::string& error)
{
    return m_thread.start([this](int stop_fd) { watch(stop_fd); }, error);
}

void Control_file_watcher::stop()
{
    m_thread.stop();
}

void Control_file_watcher::watch(int stop_fd)
{
    struct Watched
    {
        std::string path;
        const char* kind;
        Word_splitter splitter;
        off_t shown;
    };
    Watched files[] = {{m_folder + "/set_status", "status", Word_splitter(status_words()), 0},
                       {m_folder + "/command_request", "command", Word_splitter(command_words()), 0}};
    const int inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (inotify >= 0)
    {
        ::inotify_add_watch(inotify, m_folder.c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE);
    }
    for (;;)
    {
        for (auto& file : files)
        {
            const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
            {
                continue;
            }
            struct stat info
            {
            };
            if (::fstat(fd, &info) == 0 && info.st_size < file.shown)
            {
                // Truncated (the daemon opens it anew when it starts).
                file.shown = 0;
            }
            char buffer[4096];
            ssize_t count;
            std::string bytes;
            while ((count = ::pread(fd, buffer, sizeof buffer, file.shown)) > 0)
            {
                bytes.append(buffer, static_cast<std::size_t>(count));
                file.shown += count;
            }
            ::close(fd);
            for (const auto& word : file.splitter.feed(bytes))
            {
                m_journal.add(file.kind, word);
            }
        }
        pollfd waits[2] = {{stop_fd, POLLIN, 0}, {inotify, POLLIN, 0}};
        // The timeout covers file systems without change notification.
        const int ready = ::poll(waits, inotify >= 0 ? 2 : 1, 250);
        if (ready > 0 && (waits[0].revents & POLLIN) != 0)
        {
            break;
        }
        if (inotify >= 0 && (waits[1].revents & POLLIN) != 0)
        {
            char events[4096];
            while (::read(inotify, events, sizeof events) > 0)
            {
            }
        }
    }
    if (inotify >= 0)
    {
        ::close(inotify);
    }
}

} // namespace tarn1::simulator
