#include "discovery.hpp"

#include "ara/log/logging.h"
#include "io_loop.hpp"
#include "kest/com/exceptions.h"
#include "log_limits.hpp"
#include "process_info.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <system_error>
#include <unistd.h>

namespace kest::com::internal
{

namespace
{

constexpr const char* s_entry_suffix = ".svc";
constexpr std::size_t s_max_entry_size = 4096;
// Any local user can write entries: a rescan reads a bounded number of entry files, keeps a bounded
// number of entries and watches a bounded number of provider processes.
constexpr std::size_t s_max_entry_files = 4096;
constexpr std::size_t s_max_entries = 1024;
constexpr std::size_t s_max_watched_providers = 256;
// inotify reads per wake-up; what is left wakes the loop again.
constexpr int s_max_inotify_reads = 64;

bool ends_with(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool provider_alive(const cpp_binding::Service_handle& handle)
{
    if (handle.pid <= 0)
    {
        return false;
    }
    if (::kill(handle.pid, 0) != 0 && errno == ESRCH)
    {
        return false;
    }
    return process_start_time(handle.pid) == handle.start_time;
}

std::optional<cpp_binding::Service_handle> read_entry(const std::string& path)
{
    // The directory is writable by every user: an entry is opened once, never through a link and
    // never waiting (a FIFO put in its place), checked on the open descriptor, and read no further
    // than an entry may be long, so that no file swapped in can stall or swell the reader.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
    {
        return std::nullopt;
    }
    struct stat info
    {
    };
    std::string text;
    if (::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
        info.st_size <= static_cast<off_t>(s_max_entry_size))
    {
        text.resize(s_max_entry_size + 1);
        std::size_t size = 0;
        while (size < text.size())
        {
            const ssize_t got = ::read(descriptor, text.data() + size, text.size() - size);
            if (got < 0 && errno == EINTR)
            {
                continue;
            }
            if (got <= 0)
            {
                break;
            }
            size += static_cast<std::size_t>(got);
        }
        text.resize(size);
    }
    ::close(descriptor);
    if (text.empty() || text.size() > s_max_entry_size)
    {
        return std::nullopt;
    }
    std::istringstream entry(text);
    return parse_discovery_entry(entry);
}

void make_directories(const std::string& path)
{
    std::string partial;
    std::istringstream parts(path);
    std::string part;
    if (!path.empty() && path[0] == '/')
    {
        partial = "/";
    }
    while (std::getline(parts, part, '/'))
    {
        if (part.empty())
        {
            continue;
        }
        partial += part;
        if (::mkdir(partial.c_str(), 01777) == 0)
        {
            // Every user's processes offer here; the sticky bit keeps their entries their own.
            ::chmod(partial.c_str(), 01777);
        }
        partial += "/";
    }
}

} // namespace

Discovery::Discovery(Io_loop& loop, std::string directory)
    : m_loop(loop)
    , m_directory(std::move(directory))
{
}

Discovery::~Discovery()
{
    if (m_inotify >= 0)
    {
        ::close(m_inotify);
    }
    for (const auto& [pid, fd] : m_pidfds)
    {
        ::close(fd);
    }
}

void Discovery::start()
{
    make_directories(m_directory);
    struct stat info
    {
    };
    if (::stat(m_directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    {
        throw Infrastructure_exception("discovery directory " + m_directory + " cannot be created");
    }
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0 || ::inotify_add_watch(m_inotify,
                                             m_directory.c_str(),
                                             IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_CLOSE_WRITE) < 0)
    {
        throw Infrastructure_exception("cannot watch discovery directory " + m_directory + ": " +
                                       std::generic_category().message(errno));
    }
    // Read at once, so that a finder made right after the runtime already sees what is offered.
    rescan();
    m_loop.add(m_inotify, EPOLLIN, shared_from_this());
}

void Discovery::stop()
{
    if (m_inotify >= 0)
    {
        m_loop.remove(m_inotify);
    }
    std::lock_guard<std::mutex> scanning(m_scan_mutex);
    for (const auto& [pid, fd] : m_pidfds)
    {
        m_loop.remove(fd);
    }
}

std::vector<cpp_binding::Service_handle> Discovery::snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
}

void Discovery::add_listener(std::weak_ptr<Discovery_listener> listener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listeners.erase(std::remove_if(m_listeners.begin(),
                                     m_listeners.end(),
                                     [](const std::weak_ptr<Discovery_listener>& l) { return l.expired(); }),
                      m_listeners.end());
    m_listeners.push_back(std::move(listener));
}

std::string Discovery::publish(const cpp_binding::Service_handle& handle,
                               const connector::Service_interface_description& description)
{
    const std::string name =
        "p" + std::to_string(handle.pid) + "-" + handle.endpoint.substr(handle.endpoint.rfind('-') + 1);
    const std::string base = name.substr(0, name.size() - std::string(".sock").size());
    std::string path = m_directory + "/" + base + s_entry_suffix;
    const std::string temporary = m_directory + "/." + base + ".tmp";
    {
        std::ofstream file(temporary, std::ios::trunc);
        file << "service=" << handle.service_id.to_string() << "\n"
             << "instance=" << handle.instance_id.to_string() << "\n"
             << "endpoint=" << handle.endpoint << "\n"
             << "pid=" << handle.pid << "\n"
             << "start_time=" << handle.start_time << "\n"
             << "service_numeric_id=" << description.numeric_service_id() << "\n"
             << "major_version=" << static_cast<unsigned>(description.major_version) << "\n";
        if (!file.flush())
        {
            throw Infrastructure_exception("cannot write discovery entry " + temporary);
        }
    }
    ::chmod(temporary.c_str(), 0644);
    if (::rename(temporary.c_str(), path.c_str()) != 0)
    {
        ::unlink(temporary.c_str());
        throw Infrastructure_exception("cannot publish discovery entry " + path + ": " +
                                       std::generic_category().message(errno));
    }
    return path;
}

void Discovery::withdraw(const std::string& entry_file)
{
    ::unlink(entry_file.c_str());
}

void Discovery::on_io(std::uint32_t /*events*/)
{
    alignas(inotify_event) char buffer[4096];
    // Drain the queue; the content does not matter, the directory is read again as a whole.
    for (int reads = 0; reads < s_max_inotify_reads; ++reads)
    {
        if (::read(m_inotify, buffer, sizeof buffer) <= 0)
        {
            break;
        }
    }
    rescan();
}

void Discovery::rescan()
{
    std::lock_guard<std::mutex> scanning(m_scan_mutex);
    std::vector<cpp_binding::Service_handle> found;
    std::vector<std::string> stale;
    std::size_t files_read = 0;
    bool full = false;
    if (DIR* dir = ::opendir(m_directory.c_str()))
    {
        while (const dirent* item = ::readdir(dir))
        {
            const std::string name = item->d_name;
            if (name.empty() || name[0] == '.' || !ends_with(name, s_entry_suffix))
            {
                continue;
            }
            if (files_read == s_max_entry_files || found.size() == s_max_entries)
            {
                full = true;
                break;
            }
            ++files_read;
            const std::string path = m_directory + "/" + name;
            auto handle = read_entry(path);
            // An entry may only name a socket of this directory, so no entry can send clients elsewhere.
            if (!handle || handle->endpoint.compare(0, m_directory.size() + 1, m_directory + "/") != 0 ||
                handle->endpoint.find('/', m_directory.size() + 1) != std::string::npos)
            {
                continue;
            }
            if (!provider_alive(*handle))
            {
                stale.push_back(path);
                ::unlink(handle->endpoint.c_str());
                continue;
            }
            found.push_back(std::move(*handle));
        }
        ::closedir(dir);
    }
    if (full)
    {
        if (const auto verdict = log_limit(Limited_log::kDiscoveryFull).check(0); verdict.pass)
        {
            ara::log::LogWarn() << "com: discovery directory " << m_directory << " holds more than "
                                << static_cast<std::uint64_t>(s_max_entry_files) << " entry files or "
                                << static_cast<std::uint64_t>(s_max_entries) << " entries; the rest is ignored"
                                << verdict;
        }
    }
    for (const auto& path : stale)
    {
        ara::log::LogDebug() << "com: removing the entry of a provider that has gone: " << path;
        ::unlink(path.c_str());
    }
    std::sort(found.begin(),
              found.end(),
              [](const auto& a, const auto& b) {
                  return std::tie(a.service_id, a.instance_id, a.endpoint) <
                         std::tie(b.service_id, b.instance_id, b.endpoint);
              });

    // Watch each provider's process so that its death is noticed although its entry stays.
    std::set<std::int32_t> pids;
    for (const auto& handle : found)
    {
        pids.insert(handle.pid);
    }
    for (auto it = m_pidfds.begin(); it != m_pidfds.end();)
    {
        if (pids.count(it->first) == 0)
        {
            m_loop.remove(it->second);
            ::close(it->second);
            it = m_pidfds.erase(it);
        }
        else
        {
            ++it;
        }
    }
    for (const std::int32_t pid : pids)
    {
        if (pid == ::getpid() || m_pidfds.count(pid) != 0)
        {
            continue;
        }
        if (m_pidfds.size() == s_max_watched_providers)
        {
            // The death of the others is noticed when the directory next changes.
            if (const auto verdict = log_limit(Limited_log::kDiscoveryFull).check(1); verdict.pass)
            {
                ara::log::LogWarn() << "com: discovery watches at most "
                                    << static_cast<std::uint64_t>(s_max_watched_providers)
                                    << " provider processes; the others are not watched" << verdict;
            }
            break;
        }
        const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (fd < 0)
        {
            continue;
        }
        struct Process_exit : Io_handler
        {
            explicit Process_exit(std::weak_ptr<Discovery> d)
                : discovery(std::move(d))
            {
            }
            std::weak_ptr<Discovery> discovery;
            void on_io(std::uint32_t) override
            {
                if (auto alive = discovery.lock())
                {
                    alive->rescan();
                }
            }
        };
        m_pidfds[pid] = fd;
        m_loop.add(fd, EPOLLIN, std::make_shared<Process_exit>(weak_from_this()));
    }

    std::vector<std::shared_ptr<Discovery_listener>> listeners;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (found == m_entries)
        {
            return;
        }
        m_entries = found;
        for (const auto& weak : m_listeners)
        {
            if (auto listener = weak.lock())
            {
                listeners.push_back(std::move(listener));
            }
        }
    }
    for (const auto& listener : listeners)
    {
        listener->on_entries_changed(found);
    }
}

std::optional<cpp_binding::Service_handle> parse_discovery_entry(std::istream& text)
{
    cpp_binding::Service_handle handle;
    std::string line;
    std::size_t total = 0;
    bool has_service = false;
    bool has_instance = false;
    while (std::getline(text, line))
    {
        total += line.size() + 1;
        if (total > s_max_entry_size)
        {
            return std::nullopt;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos)
        {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        try
        {
            if (key == "service")
            {
                handle.service_id = vela::com::runtime::Service_id(value);
                has_service = true;
            }
            else if (key == "instance")
            {
                handle.instance_id = vela::com::runtime::Instance_id(value);
                has_instance = true;
            }
            else if (key == "endpoint")
            {
                handle.endpoint = value;
            }
            else if (key == "pid")
            {
                handle.pid = std::stoi(value);
            }
            else if (key == "start_time")
            {
                handle.start_time = std::stoull(value);
            }
        }
        catch (const std::exception&)
        {
            return std::nullopt;
        }
    }
    if (!has_service || !has_instance || handle.endpoint.empty() || handle.pid <= 0)
    {
        return std::nullopt;
    }
    return handle;
}

std::vector<cpp_binding::Service_handle> filter_handles(const std::vector<cpp_binding::Service_handle>& all,
                                                        const vela::com::runtime::Service_id& service,
                                                        const vela::com::runtime::Instance_id& instance)
{
    std::vector<cpp_binding::Service_handle> matching;
    for (const auto& handle : all)
    {
        if (handle.service_id == service && (instance.is_any() || handle.instance_id == instance))
        {
            matching.push_back(handle);
        }
    }
    return matching;
}

} // namespace kest::com::internal
