#include "tools/simulator/child_process.hpp"

#include <csignal>
#include <gtest/gtest.h>

namespace tarn1::simulator
{
namespace
{

using namespace std::chrono_literals;

class Child_process_test : public ::testing::Test
{
  protected:
    bool saw(const std::string& kind, const std::string& text)
    {
        return journal.expect(kind, text, std::chrono::steady_clock::now() + 5s).has_value();
    }

    Journal journal;
    Child_process sut{"worker", "log", journal};
    std::string error;
};

TEST_F(Child_process_test, OutputLinesAndExitStatusBecomeEvents)
{
    ASSERT_TRUE(sut.start({"/bin/sh", "-c", "echo one >&2; echo two; printf three; exit 3"}, {}, error)) << error;

    EXPECT_TRUE(saw("sim", "started worker (pid "));
    EXPECT_TRUE(saw("log", "one"));
    EXPECT_TRUE(saw("log", "two"));
    EXPECT_TRUE(saw("log", "three"));
    EXPECT_TRUE(saw("exit", "worker 3"));
}

TEST_F(Child_process_test, GivenVariablesReplaceTheInheritedOnes)
{
    ASSERT_TRUE(sut.start({"/bin/sh", "-c", "echo \"path=$PATH own=$TARN1_SIM_TEST_OWN\""},
                          {"PATH=/nowhere", "TARN1_SIM_TEST_OWN=yes"},
                          error))
        << error;

    EXPECT_TRUE(saw("log", "path=/nowhere own=yes"));
    EXPECT_TRUE(saw("exit", "worker 0"));
}

TEST_F(Child_process_test, ProgramThatCannotRunSaysSoAndEndsWith127)
{
    ASSERT_TRUE(sut.start({"/nonexistent/daemon"}, {}, error)) << error;

    EXPECT_TRUE(saw("log", "cannot start /nonexistent/daemon"));
    EXPECT_TRUE(saw("exit", "worker 127"));
}

TEST_F(Child_process_test, StopKillsAChildThatIgnoresTerm)
{
    // An ignored signal stays ignored across exec.
    ASSERT_TRUE(sut.start({"/bin/sh", "-c", "trap '' TERM; echo ready; exec sleep 30"}, {}, error)) << error;
    ASSERT_TRUE(saw("log", "ready"));

    sut.stop(200ms);

    EXPECT_TRUE(saw("sim", "worker did not end within 200 ms: SIGKILL"));
    EXPECT_TRUE(saw("exit", "worker signal 9"));
    EXPECT_FALSE(sut.signal(SIGTERM));
}

} // namespace
} // namespace tarn1::simulator
