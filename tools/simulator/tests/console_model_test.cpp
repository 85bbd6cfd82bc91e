#include "tools/simulator/console_model.hpp"

#include <gtest/gtest.h>

namespace tarn1::simulator
{
namespace
{

class Console_model_test : public ::testing::Test
{
  protected:
    void add(const std::string& kind, const std::string& text)
    {
        sut.on_event(Event{std::chrono::steady_clock::now(), kind, text});
    }
    bool shows(const std::string& text) const { return sut.render(200, "").find(text) != std::string::npos; }

    Console_model sut;
};

TEST_F(Console_model_test, StandbyRoadShowsStateWordsNmAndClients)
{
    // daemon started, NM offered, two clients
    add("sim", "started Statewarden (pid 7)");
    add("nm", "offered");
    add("client", "diag::dcm added");
    add("client", "nav added");
    // the road of a standby
    add("status", "running");
    add("nm", "RequestNetwork 00000001");
    add("nm", "SetUserData 800000");
    add("status", "preparing");
    add("client", "diag::dcm got kPrepSD");
    add("client", "diag::dcm answered kPrepSD");
    add("client", "nav got kPrepSD");

    EXPECT_TRUE(shows("Statewarden: running"));
    EXPECT_TRUE(shows("VM state       preparing"));
    EXPECT_TRUE(shows("running > preparing"));
    EXPECT_TRUE(shows("last RequestNetwork 00000001"));
    EXPECT_TRUE(shows("user data    800000"));
    EXPECT_TRUE(shows("diag::dcm: kPrepSD"));
    EXPECT_TRUE(shows("nav: asked kPrepSD, answer pending"));
}

TEST_F(Console_model_test, HoldersAndTheLastRoundsLatenciesAreShown)
{
    add("holders", "ecu_alive EcuAlive_Diagnostics - since 12:00:05.000, 2.0 s | cwu CarWakeUp_Telematics AC 1");
    add("report", "12:00:06.000 running > preparing (key P) 1 ms");
    add("report",
        "12:00:08.100 preparing > prepared4sd (standby round ended) 2.1 s; slowest stuck (apps) timeout 2000 ms");
    add("round", "diag::dcm (dcm) kPrepSD 12 ms | stuck (apps) timeout 2000 ms");
    add("report", "12:00:09.000 prepared4sd > resuming (key R) 1 ms");

    EXPECT_TRUE(shows("holders        ecu_alive EcuAlive_Diagnostics - since 12:00:05.000, 2.0 s\n"
                      "               cwu CarWakeUp_Telematics AC 1\n"));
    // the round stays that of the change that ended it, whatever came after
    EXPECT_TRUE(shows("last round     12:00:08.100 preparing > prepared4sd (standby round ended)"));
    EXPECT_TRUE(shows("               diag::dcm (dcm) kPrepSD 12 ms\n               stuck (apps) timeout 2000 ms\n"));
    EXPECT_TRUE(shows("  report 12:00:09.000 prepared4sd > resuming (key R) 1 ms"));

    add("holders", "none");
    add("sim", "com /tmp/tarn1_sim_com");
    EXPECT_TRUE(shows("holders        none"));
    EXPECT_TRUE(shows("another shell  TARN1_COM_DIR=/tmp/tarn1_sim_com statewarden_ctl status"));
}

TEST_F(Console_model_test, DaemonEndAndRemovedClientAreShown)
{
    add("sim", "started Statewarden (pid 7)");
    add("client", "nav added");
    add("client", "nav removed");
    add("exit", "Statewarden 255");

    EXPECT_TRUE(shows("Statewarden: ended, 255"));
    EXPECT_FALSE(shows("nav:"));
}

TEST_F(Console_model_test, AccessModeAndTheLastApplicationOfAnotherUserAreShown)
{
    add("sim", "access control of Statewarden: audit");
    add("app", "as uid 1000: request dsa 1: failed: access denied");
    add("app", "request dsa 1: ok");

    EXPECT_TRUE(shows("access control audit; "));
    EXPECT_TRUE(shows("last uid 1000: request dsa 1: failed: access denied"));
}

TEST_F(Console_model_test, KeyboardInUseAndLogFileAreShown)
{
    add("sim", "log /tmp/tarn1_sim.20261208-060000.42.log");
    add("sim", "keyboard fifo /dev/input/event0 (no real keyboard: /dev/uinput: No such file or directory)");

    EXPECT_TRUE(shows("keyboard       fifo /dev/input/event0 (no real keyboard"));
    EXPECT_TRUE(shows("log file       /tmp/tarn1_sim.20261208-060000.42.log"));
}

TEST_F(Console_model_test, LogLinesStayOffTheScreenAndOldEventsScrollAway)
{
    add("log", "STMG DFLT [info] Statewarden daemon started");
    for (int i = 0; i < 20; ++i)
    {
        add("key", "P" + std::to_string(i));
    }

    EXPECT_FALSE(shows("daemon started"));
    EXPECT_FALSE(shows("key P7\n"));
    EXPECT_TRUE(shows("key P19"));
}

TEST_F(Console_model_test, LongLinesAreCutToTheWidth)
{
    add("status", std::string(300, 'x'));

    const std::string screen = sut.render(40, "");

    std::size_t start = 0;
    for (std::size_t end = screen.find('\n'); end != std::string::npos; end = screen.find('\n', start = end + 1))
    {
        EXPECT_LE(end - start, 40u);
    }
}

} // namespace
} // namespace tarn1::simulator
