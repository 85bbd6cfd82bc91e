#include "tools/simulator/run_log.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace tarn1::simulator
{

namespace
{

const char* const s_prefix = "tarn1_sim.";

/// Whether name is a run's file, tarn1_sim.<YYYYmmdd-HHMMSS>.<pid>.log ('#' is a digit).
bool is_run_file(const std::string& name)
{
    static const std::string s_shape = std::string(s_prefix) + "########-######.";
    static const std::string s_suffix = ".log";
    if (name.size() <= s_shape.size() + s_suffix.size() ||
        name.compare(name.size() - s_suffix.size(), s_suffix.size(), s_suffix) != 0)
    {
        return false;
    }
    for (std::size_t i = 0; i < name.size() - s_suffix.size(); ++i)
    {
        const char expected = i < s_shape.size() ? s_shape[i] : '#';
        const bool digit = name[i] >= '0' && name[i] <= '9';
        if (expected == '#' ? !digit : name[i] != expected)
        {
            return false;
        }
    }
    return true;
}

std::string system_error(const std::string& context)
{
    return context + ": " + std::error_code(errno, std::system_category()).message();
}

} // namespace

Run_log run_log_in(const std::string& folder, std::time_t start, pid_t pid)
{
    tm local{};
    ::localtime_r(&start, &local);
    char stamp[32] = {};
    // 15 characters always fit.
    (void)std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return {folder + "/" + s_prefix + stamp + "." + std::to_string(pid) + ".log", folder + "/tarn1_sim.log"};
}

bool start_run_log(const Run_log& log, std::string& error, std::string& warning)
{
    const int fd = ::open(log.file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
    {
        error = system_error("cannot make the log " + log.file);
        return false;
    }
    ::close(fd);
    (void)point_link(log.file, log.latest, warning);
    return true;
}

bool point_link(const std::string& target, const std::string& link, std::string& warning)
{
    // A fresh link renamed over the old one: whoever follows the name never finds it missing.
    const std::string fresh = link + "." + std::to_string(::getpid()) + ".new";
    (void)::unlink(fresh.c_str());
    if (::symlink(target.c_str(), fresh.c_str()) != 0)
    {
        warning = system_error("cannot make the link " + fresh);
        return false;
    }
    // Replaces an old link or file of that name; a folder of that name stays (rename fails).
    if (::rename(fresh.c_str(), link.c_str()) != 0)
    {
        warning = system_error("cannot point " + link + " at " + target);
        (void)::unlink(fresh.c_str());
        return false;
    }
    return true;
}

void prune_run_logs(const std::string& folder, std::size_t keep)
{
    std::vector<std::string> runs;
    DIR* const directory = ::opendir(folder.c_str());
    if (directory == nullptr)
    {
        return;
    }
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the directory stream is this call's own.
    while (const dirent* const entry = ::readdir(directory))
    {
        if (is_run_file(entry->d_name))
        {
            runs.emplace_back(entry->d_name);
        }
    }
    ::closedir(directory);
    if (runs.size() <= keep)
    {
        return;
    }
    // The names begin with the start time, so they sort oldest first.
    std::sort(runs.begin(), runs.end());
    for (std::size_t i = 0; i + keep < runs.size(); ++i)
    {
        (void)::unlink((folder + "/" + runs[i]).c_str());
    }
}

} // namespace tarn1::simulator
