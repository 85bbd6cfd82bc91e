#include "ara/log/testing/log_capture.h"
#include "statemanager/virtio/virtio_interface.hpp"
#include "testbed/evdev_standin/evdev_writer.hpp"
#include "testbed/support/temp_dir.hpp"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vela::ap::statemanager::virtio
{
namespace
{

using ara::log::LogLevel;
using tarn1::evdev_standin::Evdev_writer;
namespace keys = tarn1::evdev_standin::keys;
using namespace std::chrono_literals;

constexpr std::uint16_t s_ev_key = 1;

/// Stand-in input devices: FIFOs in a temporary folder, written through Evdev_writer.
class Virtio_interface_test : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(tarn1::evdev_standin::preload_active())
            << "the stand-in library is not preloaded: run through ctest, or set "
               "LD_PRELOAD=<build>/testbed/evdev_standin/libtarn1_evdev_standin.so";
    }

    std::string add_device(const std::string& name) const
    {
        std::string path = m_dir.file(name);
        EXPECT_TRUE(tarn1::evdev_standin::make_device(path)) << path;
        return path;
    }

    /// The writing end of a device that the sut has open.
    Evdev_writer& writer(const std::string& name)
    {
        Evdev_writer& writer = m_writers[name];
        if (!writer.is_open())
        {
            EXPECT_TRUE(writer.open(m_dir.file(name), 2s)) << name;
        }
        return writer;
    }

    /// Takes every queued command, oldest first, consuming them.
    std::vector<Virtio_command> drain_queue()
    {
        std::vector<Virtio_command> commands;
        for (Virtio_command command = sut.get_command(0); command != Virtio_command::Non; command = sut.get_command(0))
        {
            commands.push_back(command);
            sut.command_consumed();
        }
        return commands;
    }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
    std::map<std::string, Evdev_writer> m_writers;
    Virtio_interface sut;
};

struct Decode_case
{
    const char* label;
    std::uint16_t type;
    std::uint16_t code;
    std::int32_t value;
    Virtio_command command;
};

void PrintTo(const Decode_case& value, std::ostream* os)
{
    *os << value.label;
}

class Virtio_interface_decode_test : public Virtio_interface_test, public ::testing::WithParamInterface<Decode_case>
{
};

TEST_P(Virtio_interface_decode_test, EventBecomesItsCommandOrIsLoggedAsUnsupported)
{
    const Decode_case& row = GetParam();
    add_device("event0");
    ASSERT_TRUE(sut.init(m_dir.path()));
    ASSERT_TRUE(writer("event0").write_event(row.type, row.code, row.value));

    const Virtio_command command = sut.get_command(2000);

    EXPECT_EQ(command, row.command);
    const std::string unsupported = "Unsupported command type received! Type[" + std::to_string(row.type) + "] code[" +
                                    std::to_string(row.code) + "] value[" + std::to_string(row.value) + "]";
    if (row.command == Virtio_command::Non)
    {
        EXPECT_EQ(m_capture.count(unsupported, LogLevel::kDebug), 1U);
        EXPECT_TRUE(m_capture.texts(LogLevel::kInfo).size() == 1U) << "only the directory line";
    }
    else
    {
        EXPECT_EQ(m_capture.count("New command received" + toString(row.command), LogLevel::kInfo), 1U);
        EXPECT_EQ(m_capture.count(unsupported), 0U);
    }
}

INSTANTIATE_TEST_SUITE_P(DecodeTable,
                         Virtio_interface_decode_test,
                         ::testing::Values(Decode_case{"PowerKeyPress", 1, 116, 1, Virtio_command::Shutdown},
                                           Decode_case{"PowerEventPress", 22, 116, 1, Virtio_command::Shutdown},
                                           Decode_case{"KeyNPress", 1, 49, 1, Virtio_command::NmControlled},
                                           Decode_case{"KeySPress", 1, 31, 1, Virtio_command::NMControlledPrepareSD},
                                           Decode_case{"KeyPPress", 1, 25, 1, Virtio_command::PrepareSD},
                                           Decode_case{"KeyRPress", 1, 19, 1, Virtio_command::Run},
                                           Decode_case{"KeyRRelease", 1, 19, 0, Virtio_command::Non},
                                           Decode_case{"KeyRRepeat", 1, 19, 2, Virtio_command::Non},
                                           Decode_case{"PowerKeyRelease", 1, 116, 0, Virtio_command::Non},
                                           Decode_case{"PowerEventRepeat", 22, 116, 2, Virtio_command::Non},
                                           Decode_case{"PowerEventWithKeyR", 22, 19, 1, Virtio_command::Non},
                                           Decode_case{"OtherKeyPress", 1, 30, 1, Virtio_command::Non},
                                           Decode_case{"Synchronisation", 0, 0, 0, Virtio_command::Non},
                                           Decode_case{"MiscellaneousScanCode", 4, 4, 19, Virtio_command::Non},
                                           Decode_case{"NegativeValue", 1, 19, -1, Virtio_command::Non}),
                         [](const ::testing::TestParamInfo<Decode_case>& param)
                         { return std::string{param.param.label}; });

struct Sequence_case
{
    const char* label;
    std::vector<std::uint16_t> pressed_keys;
    std::vector<Virtio_command> queue;
    std::size_t new_command_logs;
};

void PrintTo(const Sequence_case& value, std::ostream* os)
{
    *os << value.label;
}

class Virtio_interface_sequence_test : public Virtio_interface_test, public ::testing::WithParamInterface<Sequence_case>
{
};

TEST_P(Virtio_interface_sequence_test, PressesLeaveTheseCommandsQueued)
{
    const Sequence_case& row = GetParam();
    add_device("event0");
    ASSERT_TRUE(sut.init(m_dir.path()));

    for (const std::uint16_t key : row.pressed_keys)
    {
        ASSERT_TRUE(writer("event0").write_event(s_ev_key, key, 1));
        // one event per wait and device
        (void)sut.get_command(2000);
    }

    EXPECT_EQ(drain_queue(), row.queue);
    EXPECT_EQ(m_capture.texts(LogLevel::kInfo).size(), 1 + row.new_command_logs + row.queue.size());
}

INSTANTIATE_TEST_SUITE_P(
    Sequences,
    Virtio_interface_sequence_test,
    ::testing::Values(
        Sequence_case{"RepeatedRunIsQueuedOnce", {keys::s_r, keys::s_r}, {Virtio_command::Run}, 1},
        Sequence_case{"RunAgainAfterAnotherCommand",
                      {keys::s_r, keys::s_n, keys::s_r},
                      {Virtio_command::Run, Virtio_command::NmControlled, Virtio_command::Run},
                      3},
        Sequence_case{"PowerKeyEmptiesTheQueue", {keys::s_p, keys::s_r, keys::s_power}, {Virtio_command::Shutdown}, 3},
        Sequence_case{
            "RepeatedPowerKeyKeepsOneShutdown", {keys::s_power, keys::s_power}, {Virtio_command::Shutdown}, 1},
        Sequence_case{"CommandsAfterThePowerKeyQueueBehindIt",
                      {keys::s_power, keys::s_s},
                      {Virtio_command::Shutdown, Virtio_command::NMControlledPrepareSD},
                      2}),
    [](const ::testing::TestParamInfo<Sequence_case>& param) { return std::string{param.param.label}; });

TEST_F(Virtio_interface_test, RunAfterItsConsumptionIsStillARepetition)
{
    add_device("event0");
    ASSERT_TRUE(sut.init(m_dir.path()));
    ASSERT_TRUE(writer("event0").press(keys::s_r));
    for (int wait = 0; wait < 4; ++wait)
    {
        (void)sut.get_command(2000);
    }
    sut.command_consumed();

    ASSERT_TRUE(writer("event0").write_event(s_ev_key, keys::s_r, 1));
    const Virtio_command command = sut.get_command(2000);

    EXPECT_EQ(command, Virtio_command::Non);
    EXPECT_EQ(m_capture.count("New command receivedRun"), 1U);
    EXPECT_EQ(m_capture.count("Consumed VirtIO command: Run", LogLevel::kInfo), 1U);
}

TEST_F(Virtio_interface_test, HeadStaysQueuedUntilConsumed)
{
    add_device("event0");
    ASSERT_TRUE(sut.init(m_dir.path()));
    ASSERT_TRUE(writer("event0").write_event(s_ev_key, keys::s_p, 1));

    EXPECT_EQ(sut.get_command(2000), Virtio_command::PrepareSD);
    EXPECT_EQ(sut.get_command(0), Virtio_command::PrepareSD);
    sut.command_consumed();
    EXPECT_EQ(sut.get_command(0), Virtio_command::Non);
}

TEST_F(Virtio_interface_test, ConsumingAnEmptyQueueWritesNoLog)
{
    add_device("event0");
    ASSERT_TRUE(sut.init(m_dir.path()));
    m_capture.clear();

    sut.command_consumed();

    EXPECT_TRUE(m_capture.texts().empty());
}

TEST_F(Virtio_interface_test, EmptyQueueReturnsNonAfterTheFullWait)
{
    add_device("event0");
    ASSERT_TRUE(sut.init(m_dir.path()));
    (void)writer("event0");

    const auto start = std::chrono::steady_clock::now();
    const Virtio_command command = sut.get_command(150);

    EXPECT_EQ(command, Virtio_command::Non);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
}

TEST_F(Virtio_interface_test, PendingEventEndsTheWaitEarly)
{
    add_device("event0");
    ASSERT_TRUE(sut.init(m_dir.path()));
    ASSERT_TRUE(writer("event0").write_event(s_ev_key, keys::s_n, 1));

    const auto start = std::chrono::steady_clock::now();
    const Virtio_command command = sut.get_command(10000);

    EXPECT_EQ(command, Virtio_command::NmControlled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(Virtio_interface_test, BurstOfEventsTakesOneWaitPerEvent)
{
    add_device("event0");
    ASSERT_TRUE(sut.init(m_dir.path()));
    ASSERT_TRUE(writer("event0").press(keys::s_r));

    (void)sut.get_command(2000);

    EXPECT_EQ(m_capture.count("Readed bytes: 24", LogLevel::kDebug), 1U);
}

TEST_F(Virtio_interface_test, HangUpOfOneDeviceLeavesTheOtherWorking)
{
    add_device("event0");
    add_device("event1");
    ASSERT_TRUE(sut.init(m_dir.path()));
    (void)writer("event1");

    // the first device hangs up
    ASSERT_TRUE(writer("event0").is_open());
    writer("event0").close();
    (void)sut.get_command(2000);
    // the second one still delivers
    ASSERT_TRUE(writer("event1").write_event(s_ev_key, keys::s_r, 1));
    const Virtio_command command = sut.get_command(2000);

    EXPECT_EQ(command, Virtio_command::Run);
    Evdev_writer late;
    EXPECT_FALSE(late.open(m_dir.file("event0"), 0ms)) << "the hung-up device is closed";
}

TEST_F(Virtio_interface_test, AfterTheLastHangUpTheWaitStillPacesTheLoop)
{
    add_device("event0");
    ASSERT_TRUE(sut.init(m_dir.path()));
    ASSERT_TRUE(writer("event0").write_event(s_ev_key, keys::s_r, 1));
    writer("event0").close();
    // the pending event is read first, then the hang-up
    ASSERT_EQ(sut.get_command(2000), Virtio_command::Run);
    (void)sut.get_command(2000);
    ASSERT_EQ(m_capture.count("Epoll_wait start"), 2U);

    const auto start = std::chrono::steady_clock::now();
    const Virtio_command command = sut.get_command(150);

    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
    EXPECT_EQ(command, Virtio_command::Run) << "the queue outlives its devices";
    EXPECT_EQ(m_capture.count("Epoll_wait start"), 2U) << "no device is waited on any more";
}

/// A device removed while events are still unread in it, with or without a hang-up reported: the
/// stand-in FIFO is unlinked, after which every read of it fails with ENODEV.
struct Removal_case
{
    const char* label;
    bool writer_closes;
};

void PrintTo(const Removal_case& value, std::ostream* os)
{
    *os << value.label;
}

class Virtio_interface_removal_test : public Virtio_interface_test, public ::testing::WithParamInterface<Removal_case>
{
};

TEST_P(Virtio_interface_removal_test, RemovedDeviceIsClosedAndTheWaitKeepsItsPace)
{
    add_device("event0");
    ASSERT_TRUE(sut.init(m_dir.path()));
    ASSERT_TRUE(writer("event0").write_event(s_ev_key, keys::s_r, 1));
    // the device goes away with its event unread
    if (GetParam().writer_closes)
    {
        writer("event0").close();
    }
    ASSERT_EQ(::unlink(m_dir.file("event0").c_str()), 0);
    (void)sut.get_command(150);

    const auto start = std::chrono::steady_clock::now();
    for (int cycle = 0; cycle < 3; ++cycle)
    {
        EXPECT_EQ(sut.get_command(100), Virtio_command::Non);
    }

    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms) << "the loop spins";
    EXPECT_EQ(m_capture.count("Reading virtual input event failed", LogLevel::kError), 1U);
    EXPECT_EQ(m_capture.count("Epoll_wait start"), 1U) << "the removed device is no longer waited on";
}

INSTANTIATE_TEST_SUITE_P(Removals,
                         Virtio_interface_removal_test,
                         ::testing::Values(Removal_case{"WithHangUp", true}, Removal_case{"WithoutHangUp", false}),
                         [](const ::testing::TestParamInfo<Removal_case>& param)
                         { return std::string{param.param.label}; });

TEST_F(Virtio_interface_test, ShortRecordIsNoEvent)
{
    add_device("event0");
    ASSERT_TRUE(sut.init(m_dir.path()));
    const int raw = ::open(m_dir.file("event0").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(raw, 0);
    const unsigned char half[12] = {};
    ASSERT_EQ(::write(raw, half, sizeof half), 12);

    const Virtio_command command = sut.get_command(2000);
    ::close(raw);

    EXPECT_EQ(command, Virtio_command::Non);
    EXPECT_EQ(m_capture.count("Reading virtual input event failed", LogLevel::kError), 1U);
}

TEST_F(Virtio_interface_test, SecondInitIsRefused)
{
    add_device("event0");
    ASSERT_TRUE(sut.init(m_dir.path()));

    EXPECT_FALSE(sut.init(m_dir.path()));

    EXPECT_EQ(m_capture.count("VirtIO interface already initialized", LogLevel::kVerbose), 1U);
}

TEST_F(Virtio_interface_test, OnlyTheFirstFiveQualifyingDevicesAreRegistered)
{
    for (int index = 0; index < 7; ++index)
    {
        add_device("event" + std::to_string(index));
    }

    ASSERT_TRUE(sut.init(m_dir.path()));

    const std::vector<std::string> errors = m_capture.texts(LogLevel::kError);
    ASSERT_EQ(errors.size(), 2U);
    std::size_t readable = 0;
    for (int index = 0; index < 7; ++index)
    {
        const std::string path = m_dir.file("event" + std::to_string(index));
        Evdev_writer probe;
        if (probe.open(path, 0ms))
        {
            ++readable;
        }
        else
        {
            EXPECT_TRUE(errors[0] == "Too many VirtIO input devices, skipping: " + path ||
                        errors[1] == "Too many VirtIO input devices, skipping: " + path)
                << path;
        }
    }
    EXPECT_EQ(readable, 5U);
}

TEST_F(Virtio_interface_test, DestructionClosesEveryDevice)
{
    add_device("event0");
    add_device("event1");
    {
        Virtio_interface other;
        ASSERT_TRUE(other.init(m_dir.path()));
    }

    Evdev_writer probe;
    EXPECT_FALSE(probe.open(m_dir.file("event0"), 0ms));
    EXPECT_FALSE(probe.open(m_dir.file("event1"), 0ms));
}

TEST_F(Virtio_interface_test, DeviceWithoutMiscellaneousEventsQualifies)
{
    add_device("event0");
    ::setenv("TARN1_EVDEV_STANDIN_TYPES", "0x3", 1);

    const bool initialised = sut.init(m_dir.path());
    ::unsetenv("TARN1_EVDEV_STANDIN_TYPES");

    EXPECT_TRUE(initialised);
}

TEST_F(Virtio_interface_test, DeviceWithoutKeyEventsDoesNotQualify)
{
    add_device("event0");
    ::setenv("TARN1_EVDEV_STANDIN_TYPES", "0x11", 1);

    const bool initialised = sut.init(m_dir.path());
    ::unsetenv("TARN1_EVDEV_STANDIN_TYPES");

    EXPECT_FALSE(initialised);
    EXPECT_EQ(m_capture.count("No key event input device found that supports both EV_KEY and EV_MSC", LogLevel::kError),
              1U);
}

struct Init_failure_case
{
    const char* label;
    /// Fills the folder and gives back the error the failure is logged with.
    std::function<std::string(const tarn1::testing::Temp_dir&)> arrange;
};

void PrintTo(const Init_failure_case& value, std::ostream* os)
{
    *os << value.label;
}

class Virtio_interface_init_test : public Virtio_interface_test, public ::testing::WithParamInterface<Init_failure_case>
{
};

TEST_P(Virtio_interface_init_test, InitFailsWithItsReason)
{
    const std::string expected_error = GetParam().arrange(m_dir);

    const bool initialised = sut.init(m_dir.path());

    EXPECT_FALSE(initialised);
    EXPECT_EQ(m_capture.count(expected_error, LogLevel::kError), 1U) << ::testing::PrintToString(m_capture.texts());
}

const std::string s_none_found = "No key event input device found that supports both EV_KEY and EV_MSC";

INSTANTIATE_TEST_SUITE_P(
    Failures,
    Virtio_interface_init_test,
    ::testing::Values(Init_failure_case{"NoEventEntries",
                                        [](const tarn1::testing::Temp_dir& dir)
                                        {
                                            tarn1::evdev_standin::make_device(dir.file("mouse0"));
                                            tarn1::evdev_standin::make_device(dir.file("js0"));
                                            tarn1::evdev_standin::make_device(dir.file("even0"));
                                            return s_none_found;
                                        }},
                      Init_failure_case{"EmptyFolder", [](const tarn1::testing::Temp_dir&) { return s_none_found; }},
                      Init_failure_case{"UnopenableDeviceBesideAGoodOne",
                                        [](const tarn1::testing::Temp_dir& dir)
                                        {
                                            tarn1::evdev_standin::make_device(dir.file("event1"));
                                            (void)::symlink(dir.file("nowhere").c_str(), dir.file("event0").c_str());
                                            return "Can't open VirtIO input device: " + dir.file("event0");
                                        }},
                      Init_failure_case{"NonQualifyingDevice",
                                        [](const tarn1::testing::Temp_dir& dir)
                                        {
                                            (void)::symlink("/dev/null", dir.file("event0").c_str());
                                            return s_none_found;
                                        }},
                      Init_failure_case{"DeviceThatCannotBeWaitedOnBesideAGoodOne",
                                        [](const tarn1::testing::Temp_dir& dir)
                                        {
                                            tarn1::evdev_standin::make_device(dir.file("event1"));
                                            dir.write_file("event0",
                                                           "a regular file reports key events but epoll refuses it");
                                            return std::string{"Can't add input device to epoll! epoll_ctl failed!"};
                                        }}),
    [](const ::testing::TestParamInfo<Init_failure_case>& param) { return std::string{param.param.label}; });

TEST_F(Virtio_interface_test, MissingFolderFailsInit)
{
    const std::string folder = m_dir.file("missing");

    EXPECT_FALSE(sut.init(folder));

    EXPECT_EQ(m_capture.count("Virtio device input folder \"" + folder + "\"not found", LogLevel::kError), 1U);
}

TEST_F(Virtio_interface_test, FailedInitCanBeRepeatedWithoutLeakingDevices)
{
    add_device("event1");
    (void)::symlink(m_dir.file("nowhere").c_str(), m_dir.file("event0").c_str());
    ASSERT_FALSE(sut.init(m_dir.path()));
    ASSERT_EQ(::unlink(m_dir.file("event0").c_str()), 0);

    EXPECT_TRUE(sut.init(m_dir.path()));
    ASSERT_TRUE(writer("event1").write_event(s_ev_key, keys::s_r, 1));
    EXPECT_EQ(sut.get_command(2000), Virtio_command::Run);
}

TEST(Virtio_interface_uninitialised_test, WithoutDevicesGetCommandWaitsTheBound)
{
    Virtio_interface sut;

    const auto start = std::chrono::steady_clock::now();
    const Virtio_command command = sut.get_command(100);

    EXPECT_EQ(command, Virtio_command::Non);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
}

TEST(Evdev_writer_test, PressAfterTheReaderWentFailsInsteadOfEndingTheProcess)
{
    tarn1::testing::Temp_dir dir;
    const std::string device = dir.file("event0");
    ASSERT_EQ(::mkfifo(device.c_str(), 0600), 0);
    const int reader = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    Evdev_writer sut;
    ASSERT_TRUE(sut.open(device, 2s));
    ASSERT_TRUE(sut.press(keys::s_p));

    ::close(reader);

    // SIGPIPE's default action would end this test program here.
    EXPECT_FALSE(sut.press(keys::s_power));
    EXPECT_FALSE(sut.press(keys::s_r));
}

} // namespace
} // namespace vela::ap::statemanager::virtio
