#pragma once

#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tarn1::platform_iam
{

/// The meaningful lines of a rules file: comments and blank lines removed, each line split at
/// blanks and tabs. Keeps the line number of each for messages.
struct Rules_line
{
    std::size_t number;
    std::vector<std::string> fields;
};

/// Appends the meaningful lines of text to lines.
void read_rules_lines(std::istream& text, std::vector<Rules_line>& lines);

/// The path named by the environment variable, else the default.
std::string path_from_environment(const char* variable, const char* default_path);

/// True when text matches pattern, in which '*' matches any run of characters.
bool glob_match(const std::string& pattern, const std::string& text) noexcept;

/// Parsed tables shared by every client of one file; a file is parsed again only when its
/// identity (device, inode, size, modification time) has changed. Clients hold a share of what
/// they got, so a reload never changes a table under a client. Safe from any thread.
template <typename Table> class Table_cache final
{
  public:
    using Loader = std::function<std::shared_ptr<const Table>(const std::string& path)>;

    std::shared_ptr<const Table> get(const std::string& path, const Loader& loader)
    {
        struct stat info
        {
        };
        Stamp stamp{};
        if (::stat(path.c_str(), &info) == 0)
        {
            stamp = Stamp{true, info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        auto& entry = m_entries[path];
        if (!entry.table || !(entry.stamp == stamp))
        {
            entry.table = loader(path);
            entry.stamp = stamp;
        }
        return entry.table;
    }

  private:
    struct Stamp
    {
        bool exists{false};
        dev_t device{0};
        ino_t inode{0};
        off_t size{0};
        time_t seconds{0};
        long nanoseconds{0};

        bool operator==(const Stamp& other) const noexcept
        {
            return exists == other.exists && device == other.device && inode == other.inode && size == other.size &&
                   seconds == other.seconds && nanoseconds == other.nanoseconds;
        }
    };
    struct Entry
    {
        Stamp stamp;
        std::shared_ptr<const Table> table;
    };
    // Guards m_entries: every thread that constructs a client meets here.
    std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;
};

} // namespace tarn1::platform_iam
