#include "tests/robustness/process_probe.hpp"

#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace tarn1::testing
{

std::optional<std::uint64_t> cpu_ticks(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
    {
        return std::nullopt;
    }
    // the command name may hold blanks and parentheses: the fields count from its last ')'
    const auto name_end = line.rfind(')');
    if (name_end == std::string::npos)
    {
        return std::nullopt;
    }
    std::istringstream fields(line.substr(name_end + 2));
    std::string field;
    std::uint64_t user = 0;
    std::uint64_t system = 0;
    // state is field 3 of the line; utime and stime are fields 14 and 15
    for (int number = 3; number <= 15 && fields >> field; ++number)
    {
        if (number == 14)
        {
            user = std::stoull(field);
        }
        else if (number == 15)
        {
            system = std::stoull(field);
            return user + system;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> resident_kib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
    {
        if (line.rfind("VmRSS:", 0) == 0)
        {
            return static_cast<std::size_t>(std::stoull(line.substr(6)));
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> descriptor_count(pid_t pid)
{
    DIR* folder = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (folder == nullptr)
    {
        return std::nullopt;
    }
    std::size_t count = 0;
    while (const dirent* entry = ::readdir(folder))
    {
        if (entry->d_name[0] != '.')
        {
            ++count;
        }
    }
    ::closedir(folder);
    return count;
}

std::optional<double> cpu_share(pid_t pid, std::chrono::milliseconds window)
{
    const auto before = cpu_ticks(pid);
    const auto started = std::chrono::steady_clock::now();
    // a measuring window, not a wait for something to happen
    std::this_thread::sleep_for(window);
    const auto after = cpu_ticks(pid);
    const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!before || !after)
    {
        return std::nullopt;
    }
    const auto ticks_per_second = static_cast<double>(::sysconf(_SC_CLK_TCK));
    return static_cast<double>(*after - *before) / ticks_per_second / elapsed;
}

Peak_resident_memory::Peak_resident_memory(pid_t pid)
    : m_pid(pid)
    , m_thread(
          [this]
          {
              while (!m_stop)
              {
                  const auto sample = resident_kib(m_pid).value_or(0);
                  if (sample > m_peak)
                  {
                      m_peak = sample;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
          })
{
}

Peak_resident_memory::~Peak_resident_memory()
{
    m_stop = true;
    m_thread.join();
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition())
    {
        if (std::chrono::steady_clock::now() >= deadline)
        {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace tarn1::testing
