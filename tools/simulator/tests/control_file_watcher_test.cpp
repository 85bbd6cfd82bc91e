#include "testbed/support/temp_dir.hpp"
#include "tools/simulator/control_file_watcher.hpp"

#include <fstream>
#include <gtest/gtest.h>

namespace tarn1::simulator
{
namespace
{

using namespace std::chrono_literals;

class Control_file_watcher_test : public ::testing::Test
{
  protected:
    void append(const std::string& name, const std::string& text)
    {
        std::ofstream(dir.file(name), std::ios::app) << text;
    }

    bool saw(const std::string& kind, const std::string& text)
    {
        return journal.expect(kind, text, std::chrono::steady_clock::now() + 5s).has_value();
    }

    tarn1::testing::Temp_dir dir;
    Journal journal;
    Control_file_watcher sut{journal, dir.path()};
    std::string error;
};

TEST_F(Control_file_watcher_test, RunTogetherWordsBecomeStatusAndCommandEventsInOrder)
{
    ASSERT_TRUE(sut.start(error)) << error;

    // the daemon writes words without separators, in pieces
    append("set_status", "startingupru");
    append("set_status", "nning");
    append("command_request", "restartao");

    EXPECT_TRUE(saw("status", "startingup"));
    EXPECT_TRUE(saw("status", "running"));
    EXPECT_TRUE(saw("command", "restartao"));
}

TEST_F(Control_file_watcher_test, TruncatedFileIsReadAgainFromItsStart)
{
    ASSERT_TRUE(sut.start(error)) << error;
    append("set_status", "startinguprunning");
    ASSERT_TRUE(saw("status", "running"));

    // the daemon starts again and opens the file anew
    dir.write_file("set_status", "prepared4sd");

    EXPECT_TRUE(saw("status", "prepared4sd"));
}

} // namespace
} // namespace tarn1::simulator
