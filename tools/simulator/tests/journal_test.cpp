#include "tools/simulator/journal.hpp"

#include <gtest/gtest.h>
#include <thread>

namespace tarn1::simulator
{
namespace
{

using namespace std::chrono_literals;

class Journal_test : public ::testing::Test
{
  protected:
    static std::chrono::steady_clock::time_point soon() { return std::chrono::steady_clock::now() + 2s; }
    static std::chrono::steady_clock::time_point now() { return std::chrono::steady_clock::now(); }

    Journal sut;
};

TEST_F(Journal_test, ExpectationsOfOneKindMatchInOrderOnly)
{
    sut.add("client", "diag::dcm got kPrepSD");
    sut.add("client", "app1 got kPrepSD");
    sut.add("client", "diag::dem got kPrepSD");

    EXPECT_TRUE(sut.expect("client", "diag::dcm got", now()));
    EXPECT_TRUE(sut.expect("client", "diag::dem got", now()));
    EXPECT_FALSE(sut.expect("client", "app1 got", now()));
}

TEST_F(Journal_test, KindsHaveCursorsOfTheirOwn)
{
    sut.add("status", "running");
    sut.add("log", "entering Running");

    EXPECT_TRUE(sut.expect("log", "Running", now()));
    EXPECT_TRUE(sut.expect("status", "running", now()));
    EXPECT_FALSE(sut.expect("log", "Running", now()));
}

TEST_F(Journal_test, ExpectationWaitsForAnEventFromAnotherThread)
{
    std::thread adder(
        [this]
        {
            std::this_thread::sleep_for(50ms);
            sut.add("status", "preparing");
        });

    const auto found = sut.expect("status", "preparing", soon());

    adder.join();
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ("preparing", *found);
}

TEST_F(Journal_test, NegativeExpectationFailsOnAMatchAndLeavesTheCursor)
{
    sut.add("poweroff", "terminate");

    EXPECT_FALSE(sut.expect_none("poweroff", "terminate", now() + 10ms));
    EXPECT_TRUE(sut.expect_none("poweroff", "poweroff", now() + 10ms));
    EXPECT_TRUE(sut.expect("poweroff", "terminate", now()));
}

TEST_F(Journal_test, SeenLooksBehindTheCursorToo)
{
    sut.add("log", "placeholder: state notifier not built yet");
    sut.add("log", "Statewarden daemon started");
    ASSERT_TRUE(sut.expect("log", "daemon started", now()));

    EXPECT_TRUE(sut.seen("log", "placeholder: state notifier"));
    EXPECT_FALSE(sut.seen("status", "placeholder"));
}

TEST_F(Journal_test, WaitSeenTakesEventsInAnyOrderAndLeavesTheCursor)
{
    sut.add("log", "[half_app] timed out");
    sut.add("log", "[stuck_app] timed out");

    EXPECT_TRUE(sut.wait_seen("log", "[stuck_app]", now()));
    EXPECT_TRUE(sut.wait_seen("log", "[half_app]", now()));
    EXPECT_FALSE(sut.wait_seen("log", "[good_app]", now() + 10ms));
    EXPECT_TRUE(sut.expect("log", "[half_app]", now()));
}

TEST_F(Journal_test, ListenerSeesEveryEventAndLatestIsTheNewestOfItsKind)
{
    std::vector<std::string> seen;
    sut.set_listener([&](const Event& event) { seen.push_back(event.kind + " " + event.text); });

    sut.add("status", "running");
    sut.add("log", "x");
    sut.add("status", "postrun");

    EXPECT_EQ((std::vector<std::string>{"status running", "log x", "status postrun"}), seen);
    EXPECT_EQ("postrun", sut.latest("status").value_or(""));
    EXPECT_EQ(2u, sut.tail(2).size());
}

} // namespace
} // namespace tarn1::simulator
