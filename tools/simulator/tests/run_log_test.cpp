#include "testbed/support/temp_dir.hpp"
#include "tools/simulator/run_log.hpp"

#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn1::simulator
{
namespace
{

class Run_log_test : public ::testing::Test
{
  protected:
    std::string link_target(const std::string& link) const
    {
        char target[PATH_MAX] = {};
        const ssize_t size = ::readlink(link.c_str(), target, sizeof target - 1);
        return size > 0 ? std::string(target, static_cast<std::size_t>(size)) : std::string();
    }

    std::set<std::string> entries() const
    {
        std::set<std::string> names;
        DIR* const folder = ::opendir(dir.path().c_str());
        // NOLINTNEXTLINE(concurrency-mt-unsafe): the directory stream is this test's own.
        while (const dirent* const entry = ::readdir(folder))
        {
            if (entry->d_name[0] != '.')
            {
                names.insert(entry->d_name);
            }
        }
        ::closedir(folder);
        return names;
    }

    tarn1::testing::Temp_dir dir;
    std::string error;
    std::string warning;
};

TEST_F(Run_log_test, RunsLogApartAndTheLinkNamesTheNewest)
{
    const Run_log first = run_log_in(dir.path(), 1000, 41);
    const Run_log second = run_log_in(dir.path(), 1000, 42);
    // an old single log where the link now goes
    dir.write_file("tarn1_sim.log", "old run\n");

    ASSERT_TRUE(start_run_log(first, error, warning)) << error;
    ASSERT_TRUE(start_run_log(second, error, warning)) << error;

    EXPECT_NE(first.file, second.file);
    EXPECT_EQ(second.latest, dir.file("tarn1_sim.log"));
    EXPECT_EQ(link_target(second.latest), second.file);
    EXPECT_EQ(entries().size(), 3u);
    EXPECT_TRUE(warning.empty()) << warning;
}

TEST_F(Run_log_test, ExistingFileOrLinkAtTheRunsNameIsNotWrittenThrough)
{
    const Run_log log = run_log_in(dir.path(), 1000, 7);
    const std::string victim = dir.write_file("victim", "keep\n");
    ASSERT_EQ(::symlink(victim.c_str(), log.file.c_str()), 0);

    EXPECT_FALSE(start_run_log(log, error, warning));

    EXPECT_NE(error.find("cannot make the log " + log.file), std::string::npos) << error;
    EXPECT_EQ(dir.read_file("victim"), "keep\n");
}

TEST_F(Run_log_test, PruningKeepsTheNewestRunsAndOtherFiles)
{
    for (const char* name : {"tarn1_sim.20261207-235959.9.log",
                             "tarn1_sim.20261208-060000.1.log",
                             "tarn1_sim.20261208-060001.5.log",
                             "tarn1_sim.log",
                             "tarn1_sim.20261201-000000.x.log",
                             "tarn1_sim_com.x",
                             "notes.log"})
    {
        dir.write_file(name, "");
    }

    prune_run_logs(dir.path(), 2);

    EXPECT_EQ(entries(),
              (std::set<std::string>{"tarn1_sim.20261208-060000.1.log",
                                     "tarn1_sim.20261208-060001.5.log",
                                     "tarn1_sim.log",
                                     "tarn1_sim.20261201-000000.x.log",
                                     "tarn1_sim_com.x",
                                     "notes.log"}));
}

TEST_F(Run_log_test, LinkIsPointedAnewButNeverReplacesAFolder)
{
    const std::string link = dir.file("tarn1_sim_com");
    ASSERT_TRUE(point_link("/tmp/first", link, warning)) << warning;

    const bool again = point_link("/tmp/second", link, warning);
    const std::string folder = dir.file("folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(::close(::open((folder + "/entry").c_str(), O_CREAT | O_WRONLY, 0600)), 0);
    const bool over_folder = point_link("/tmp/third", folder, warning);

    EXPECT_TRUE(again);
    EXPECT_EQ(link_target(link), "/tmp/second");
    EXPECT_FALSE(over_folder);
    EXPECT_EQ(warning.rfind("cannot point " + folder + " at /tmp/third: ", 0), 0U) << warning;
    EXPECT_EQ(entries(), (std::set<std::string>{"folder", "tarn1_sim_com"}));
}

} // namespace
} // namespace tarn1::simulator
