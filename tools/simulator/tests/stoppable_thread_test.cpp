#include "tools/simulator/stoppable_thread.hpp"

#include <atomic>
#include <gtest/gtest.h>
#include <poll.h>

namespace tarn1::simulator
{
namespace
{

TEST(Stoppable_thread, BodyWaitsUntilStopAndStopReturnsOnlyAfterIt)
{
    std::atomic<int> state{0};
    Stoppable_thread sut;
    std::string error;

    ASSERT_TRUE(sut.start(
        [&state](int stop_fd)
        {
            state = 1;
            pollfd wait{stop_fd, POLLIN, 0};
            // A body that ignored stop_fd would hold stop() for ever: the ctest timeout catches it.
            while (::poll(&wait, 1, -1) <= 0)
            {
            }
            state = 2;
        },
        error))
        << error;
    sut.stop();

    EXPECT_EQ(state.load(), 2);
    sut.stop();
}

TEST(Stoppable_thread, StopWithoutStartDoesNothing)
{
    Stoppable_thread sut;

    sut.stop();
}

} // namespace
} // namespace tarn1::simulator
