#include "testbed/support/child_process.hpp"
#include "testbed/support/temp_dir.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

using namespace std::chrono_literals;
using tarn1::testing::Child_options;
using tarn1::testing::Child_process;

Child_options shell(const std::string& script)
{
    Child_options options;
    options.argv = {"sh", "-c", script};
    return options;
}

struct Status_case
{
    const char* name;
    const char* script;
    int status;
};

class Child_process_status : public ::testing::TestWithParam<Status_case>
{
};

TEST_P(Child_process_status, WaitForExitGivesTheStatusOfTheProgram)
{
    Child_process sut(shell(GetParam().script));
    ASSERT_TRUE(sut.started());
    EXPECT_EQ(sut.wait_for_exit(10s), GetParam().status);
    EXPECT_FALSE(sut.running());
}

INSTANTIATE_TEST_SUITE_P(Endings,
                         Child_process_status,
                         ::testing::Values(Status_case{"Success", "exit 0", 0},
                                           Status_case{"Failure", "exit 3", 3},
                                           Status_case{"Signal", "kill -TERM $$", 128 + SIGTERM}),
                         [](const ::testing::TestParamInfo<Status_case>& test)
                         { return std::string(test.param.name); });

TEST(Child_process, AProgramThatCannotBeRunEndsTheChildWith127)
{
    Child_options options;
    options.argv = {"/nonexistent/program"};
    Child_process sut(options);
    ASSERT_TRUE(sut.started());
    EXPECT_EQ(sut.wait_for_exit(10s), 127);
}

TEST(Child_process, CapturesStandardOutputAndErrorInItsBuffer)
{
    Child_process sut(shell("echo to-out; echo to-err >&2"));
    ASSERT_EQ(sut.wait_for_exit(10s), 0);
    EXPECT_NE(sut.output().find("to-out"), std::string::npos);
    EXPECT_NE(sut.output().find("to-err"), std::string::npos);
}

TEST(Child_process, WritesToTheOutputFileEmptyingOrAppendingAsTold)
{
    tarn1::testing::Temp_dir dir;
    const std::string file = dir.write_file("log", "before\n");
    auto options = shell("echo first");
    options.output_file = file;
    ASSERT_EQ(Child_process(options).wait_for_exit(10s), 0);
    EXPECT_EQ(dir.read_file("log"), "first\n");

    options = shell("echo second");
    options.output_file = file;
    options.append_output = true;
    Child_process sut(options);
    ASSERT_EQ(sut.wait_for_exit(10s), 0);
    EXPECT_EQ(sut.output(), "first\nsecond\n");
}

TEST(Child_process, AddsToTheEnvironmentAndDropsTheServiceManagersVariables)
{
    ::setenv("NOTIFY_SOCKET", "/run/systemd/notify", 1);
    ::setenv("TARN1_CHILD_TEST_KEPT", "kept", 1);
    ::setenv("TARN1_CHILD_TEST_REPLACED", "old", 1);
    auto options = shell("echo \"[$NOTIFY_SOCKET][$TARN1_CHILD_TEST_KEPT][$TARN1_CHILD_TEST_REPLACED]\"");
    options.environment = {"TARN1_CHILD_TEST_REPLACED=new"};
    Child_process sut(options);
    ASSERT_EQ(sut.wait_for_exit(10s), 0);
    EXPECT_EQ(sut.output(), "[][kept][new]\n");

    options.inherit_environment = false;
    Child_process alone(options);
    ASSERT_EQ(alone.wait_for_exit(10s), 0);
    EXPECT_EQ(alone.output(), "[][][new]\n");
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("TARN1_CHILD_TEST_KEPT");
    ::unsetenv("TARN1_CHILD_TEST_REPLACED");
}

TEST(Child_process, KeepsTheCallersDescriptorsOutOfTheChild)
{
    // a descriptor without close-on-exec, as a test's connection may be
    const int held = ::fcntl(STDIN_FILENO, F_DUPFD, 50);
    ASSERT_GE(held, 0);
    Child_process sut(shell("test -e /proc/self/fd/" + std::to_string(held) + " && echo leaked || echo closed"));
    ASSERT_EQ(sut.wait_for_exit(10s), 0);
    ::close(held);
    EXPECT_EQ(sut.output(), "closed\n");
}

TEST(Child_process, SetsTheDescriptorLimitAndRunsTheHookBeforeTheProgram)
{
    auto options = shell("ulimit -n");
    options.descriptor_limit = 64;
    Child_process limited(options);
    ASSERT_EQ(limited.wait_for_exit(10s), 0);
    EXPECT_EQ(limited.output(), "64\n");

    options.before_exec = [] { return 42; };
    Child_process refused(options);
    EXPECT_EQ(refused.wait_for_exit(10s), 42);
    EXPECT_EQ(refused.output(), "");
}

TEST(Child_process, AChildPastItsDeadlineRunsOnUntilDestroyedThenIsKilled)
{
    pid_t pid = -1;
    {
        Child_process sut(shell("exec sleep 30"));
        pid = sut.pid();
        EXPECT_EQ(sut.wait_for_exit(50ms), -1);
        EXPECT_TRUE(sut.running());
    }
    // killed and reaped: the process id names no process of ours any more
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST(Child_process, WaitForOutputSeesWhatComesAndGivesUpWhenTheChildEnds)
{
    Child_process talker(shell("sleep 0.1; echo ready; exec sleep 30"));
    EXPECT_TRUE(talker.wait_for_output("ready", 10s));

    Child_process quitter(shell("echo bye"));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(quitter.wait_for_output("never said", 10s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

} // namespace
