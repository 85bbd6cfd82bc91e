#include "testbed/support/temp_dir.hpp"
#include "tools/simulator/poweroff_reader.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tarn1::simulator
{
namespace
{

using namespace std::chrono_literals;

class Poweroff_reader_test : public ::testing::Test
{
  protected:
    bool saw(const std::string& text)
    {
        return journal.expect("poweroff", text, std::chrono::steady_clock::now() + 5s).has_value();
    }

    tarn1::testing::Temp_dir dir;
    Journal journal;
    Poweroff_reader sut{journal, dir.file("poweroff")};
    std::string error;
};

TEST_F(Poweroff_reader_test, EachCommandLineBecomesAnEventAlsoWhenWrittenInPieces)
{
    ASSERT_TRUE(sut.start(error)) << error;
    const int pipe = ::open(dir.file("poweroff").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(pipe, 0);

    ASSERT_EQ(::write(pipe, "look", 4), 4);
    ASSERT_EQ(::write(pipe, "up pmx_per_daemon\nterminate\npoweroff 60000\n", 43), 43);
    ::close(pipe);

    EXPECT_TRUE(saw("lookup pmx_per_daemon"));
    EXPECT_TRUE(saw("terminate"));
    EXPECT_TRUE(saw("poweroff 60000"));
}

TEST_F(Poweroff_reader_test, PipeInAMissingFolderIsRefusedWithItsPath)
{
    Poweroff_reader missing{journal, dir.file("absent/poweroff")};

    EXPECT_FALSE(missing.start(error));

    EXPECT_EQ(error, "cannot make " + dir.file("absent/poweroff") + ": No such file or directory");
}

} // namespace
} // namespace tarn1::simulator
