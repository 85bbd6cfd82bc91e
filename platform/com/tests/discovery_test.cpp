#include "kest/com/runtime/component_singleton.h"
#include "testbed/support/temp_dir.hpp"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

std::string own_start_time()
{
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int index = 3; index <= 22; ++index)
    {
        rest >> field;
    }
    return field;
}

/// A pid that belonged to a process which has ended and been reaped.
pid_t ended_pid()
{
    const pid_t child = ::fork();
    if (child == 0)
    {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
}

struct Entry_case
{
    const char* name;
    /// Entry content; DIR, PID and START are replaced.
    std::string content;
    bool listed;
    bool removed;
};

void PrintTo(const Entry_case& c, std::ostream* os)
{
    *os << c.name;
}

std::string s_sound_entry()
{
    return "service=a::B\ninstance=one\nendpoint=DIR/p1-1.sock\npid=PID\nstart_time=START\n";
}

class Discovery_dir_test : public ::testing::Test
{
  protected:
    Discovery_dir_test() { ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1); }
    ~Discovery_dir_test() override { ::unsetenv("TARN1_COM_DIR"); }

    std::string expand(std::string text)
    {
        const std::pair<std::string, std::string> replacements[] = {
            {"DIR", m_dir.path()},
            {"PID", std::to_string(::getpid())},
            {"DEAD", std::to_string(ended_pid())},
            {"START", own_start_time()},
        };
        for (const auto& [key, value] : replacements)
        {
            for (auto at = text.find(key); at != std::string::npos; at = text.find(key))
            {
                text.replace(at, key.size(), value);
            }
        }
        return text;
    }

    tarn1::testing::Temp_dir m_dir;
};

class Discovery_entry_test : public Discovery_dir_test, public ::testing::WithParamInterface<Entry_case>
{
};

TEST_P(Discovery_entry_test, OnlySoundEntriesOfLiveProvidersAreListed)
{
    m_dir.write_file("p1-1.svc", expand(GetParam().content));

    std::optional<kest::com::runtime::Component_singleton> sut;
    sut.emplace(false, "test");
    const auto listed = sut->get_service_finder().find_all();
    sut.reset();

    EXPECT_EQ(listed.size(), GetParam().listed ? 1U : 0U);
    EXPECT_EQ(::access(m_dir.file("p1-1.svc").c_str(), F_OK) != 0, GetParam().removed);
}

TEST_F(Discovery_dir_test, EntryReplacedByAFifoOrALinkIsSkippedWithoutWaiting)
{
    // a local user swaps entries for things that would block or never end when read
    ASSERT_EQ(::mkfifo(m_dir.file("p1-1.svc").c_str(), 0666), 0);
    ASSERT_EQ(::symlink("/dev/zero", m_dir.file("p1-2.svc").c_str()), 0);
    m_dir.write_file("p1-3.target", expand(s_sound_entry()));
    ASSERT_EQ(::symlink(m_dir.file("p1-3.target").c_str(), m_dir.file("p1-3.svc").c_str()), 0);

    std::optional<kest::com::runtime::Component_singleton> sut;
    sut.emplace(false, "test");
    const auto started = std::chrono::steady_clock::now();
    const auto listed = sut->get_service_finder().find_all();
    const auto took = std::chrono::steady_clock::now() - started;
    sut.reset();

    EXPECT_TRUE(listed.empty()) << "a link is no entry, even to a sound one";
    EXPECT_LT(took, std::chrono::seconds(2));
}

const std::string s_sound = "service=a::B\ninstance=one\nendpoint=DIR/p1-1.sock\npid=PID\nstart_time=START\n";

INSTANTIATE_TEST_SUITE_P(
    Entries,
    Discovery_entry_test,
    ::testing::Values(
        Entry_case{"SoundEntry", s_sound, true, false},
        Entry_case{"UnknownKeysIgnored", s_sound + "colour=blue\n", true, false},
        Entry_case{"ProviderEnded",
                   "service=a::B\ninstance=one\nendpoint=DIR/p1-1.sock\npid=DEAD\nstart_time=1\n",
                   false,
                   true},
        Entry_case{"PidReusedByAnotherProcess",
                   "service=a::B\ninstance=one\nendpoint=DIR/p1-1.sock\npid=PID\nstart_time=1\n",
                   false,
                   true},
        Entry_case{"EndpointOutsideDirectory",
                   "service=a::B\ninstance=one\nendpoint=/tmp/elsewhere.sock\npid=PID\nstart_time=START\n",
                   false,
                   false},
        Entry_case{"EndpointInSubdirectory",
                   "service=a::B\ninstance=one\nendpoint=DIR/sub/p.sock\npid=PID\nstart_time=START\n",
                   false,
                   false},
        Entry_case{
            "MissingInstance", "service=a::B\nendpoint=DIR/p1-1.sock\npid=PID\nstart_time=START\n", false, false},
        Entry_case{"PidNotANumber",
                   "service=a::B\ninstance=one\nendpoint=DIR/p1-1.sock\npid=abc\nstart_time=START\n",
                   false,
                   false},
        Entry_case{"Oversized", s_sound + std::string(5000, 'x') + "\n", false, false}),
    [](const ::testing::TestParamInfo<Entry_case>& c) { return std::string(c.param.name); });

} // namespace
