#include "tools/simulator/ctl_run.hpp"
#include "tools/simulator/program_launch.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

namespace tarn1::simulator
{
namespace
{

struct Launched
{
    bool started;
    std::string output;
    int exit_status;
};

Launched launch(const std::vector<std::string>& argv, const Launch_options& options, std::size_t limit = 1U << 20U)
{
    int fd = -1;
    std::string error;
    const pid_t pid = launch_program(argv, options, fd, error);
    if (pid < 0)
    {
        return {false, error, -1};
    }
    std::string output = read_to_end(fd, limit);
    return {true, std::move(output), exit_status_of(wait_for_child(pid))};
}

struct Launch_case
{
    const char* name;
    std::vector<std::string> argv;
    bool capture_stderr;
    const char* expected_output;
    int expected_status;
};

class Launch_program_test : public ::testing::TestWithParam<Launch_case>
{
};

TEST_P(Launch_program_test, OutputAndStatusAreTheChildsOwn)
{
    Launch_options options;
    options.capture_stderr = GetParam().capture_stderr;
    options.cannot_exec = "cannot exec\n";

    const Launched result = launch(GetParam().argv, options);

    ASSERT_TRUE(result.started) << result.output;
    EXPECT_EQ(result.output, GetParam().expected_output);
    EXPECT_EQ(result.exit_status, GetParam().expected_status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases,
    Launch_program_test,
    ::testing::Values(
        Launch_case{
            "StandardErrorCaptured", {"/bin/sh", "-c", "echo out; echo err >&2; exit 3"}, true, "out\nerr\n", 3},
        Launch_case{"StandardErrorDropped", {"/bin/sh", "-c", "echo out; echo err >&2"}, false, "out\n", 0},
        Launch_case{"StandardInputIsEmpty", {"/bin/sh", "-c", "cat; echo end"}, true, "end\n", 0},
        Launch_case{"ExecFailureSaysSo", {"/nonexistent/program"}, true, "cannot exec\n", 127},
        Launch_case{"EndedBySignal", {"/bin/sh", "-c", "kill -9 $$"}, true, "", 128 + 9}),
    [](const ::testing::TestParamInfo<Launch_case>& param_info) { return std::string(param_info.param.name); });

TEST(Launch_program, OutputBeyondTheLimitIsReadButNotKept)
{
    const Launched result = launch({"/bin/sh", "-c", "head -c 100000 /dev/zero | tr '\\0' x; echo; exit 5"}, {}, 10);

    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.output, "xxxxxxxxxx");
    EXPECT_EQ(result.exit_status, 5);
}

TEST(Launch_program, DiscardedOutputNeedsNoReader)
{
    Launch_options options;
    options.discard_output = true;
    options.capture_stderr = true;
    int fd = 0;
    std::string error;

    // More than a pipe holds: a child writing into an unread pipe would never end.
    const pid_t pid = launch_program({"/bin/sh", "-c", "head -c 1000000 /dev/zero; exit 4"}, options, fd, error);

    ASSERT_GT(pid, 0) << error;
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(exit_status_of(wait_for_child(pid)), 4);
}

TEST(Launch_program, ChildTakesTheGivenUserAndGroupWithoutSupplementaryGroups)
{
    Launch_options options;
    options.uid = 60001;
    options.cannot_switch_user = "refused\n";

    const Launched result = launch({"/bin/sh", "-c", "echo $(id -u) $(id -g) $(id -G)"}, options);

    ASSERT_TRUE(result.started);
    if (::geteuid() != 0)
    {
        // An ordinary user may not take another uid: the child says so and ends with 126.
        EXPECT_EQ(result.output, "refused\n");
        EXPECT_EQ(result.exit_status, 126);
        return;
    }
    EXPECT_EQ(result.output, "60001 60001 60001\n");
    EXPECT_EQ(result.exit_status, 0);
}

TEST(Run_ctl_program, ExitStatusAndBothStreamsComeBackAndAMissingProgramIsAnError)
{
    int exit_status = -1;
    std::string output;
    std::string error;

    ASSERT_TRUE(run_ctl_program("/bin/sh", {"-c", "echo out; echo err >&2; exit 3"}, exit_status, output, error))
        << error;
    EXPECT_EQ(exit_status, 3);
    EXPECT_EQ(output, "out\nerr\n");

    EXPECT_FALSE(run_ctl_program("/nonexistent/statewarden_ctl", {}, exit_status, output, error));
    EXPECT_EQ(error, "cannot run /nonexistent/statewarden_ctl");
}

} // namespace
} // namespace tarn1::simulator
