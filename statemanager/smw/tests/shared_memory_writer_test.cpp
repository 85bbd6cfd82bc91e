#include "ara/log/testing/log_capture.h"
#include "platform/service_manager/tests/mocks/mock_service_manager.hpp"
#include "statemanager/smw/shared_memory_reboot.hpp"
#include "statemanager/smw/shared_memory_update.hpp"
#include "testbed/support/temp_dir.hpp"

#include <cerrno>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace vela::ap::statemanager::smw
{
namespace
{

using ara::log::LogLevel;
using tarn1::service_manager::testing::Mock_service_manager;

struct Status_word_case
{
    const char* label;
    void (Shared_memory_update::*operation)();
    const char* word;
};

void PrintTo(const Status_word_case& value, std::ostream* os)
{
    *os << value.label;
}

const Status_word_case s_status_words[] = {
    {"StartingUp", &Shared_memory_update::starting_up, "startingup"},
    {"Running", &Shared_memory_update::running, "running"},
    {"ShuttingDown", &Shared_memory_update::shutting_down, "shuttingdown"},
    {"RunNmControlled", &Shared_memory_update::run_nm_controlled, "runnmcontrolled"},
    {"PostRun", &Shared_memory_update::post_run, "postrun"},
    {"Preparing", &Shared_memory_update::preparing, "preparing"},
    {"Prepared4Sd", &Shared_memory_update::prepared_4_sd, "prepared4sd"},
    {"Resuming", &Shared_memory_update::resuming, "resuming"},
};

std::string status_word_name(const ::testing::TestParamInfo<Status_word_case>& param)
{
    return param.param.label;
}

class Shared_memory_update_test : public ::testing::Test
{
  protected:
    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
};

class Shared_memory_update_word_test : public Shared_memory_update_test,
                                       public ::testing::WithParamInterface<Status_word_case>
{
};

TEST_P(Shared_memory_update_word_test, StateOperationWritesExactlyItsWord)
{
    Shared_memory_update sut(m_dir.file("set_status"));

    (sut.*GetParam().operation)();

    EXPECT_EQ(m_dir.read_file("set_status"), GetParam().word);
    EXPECT_TRUE(m_capture.texts(LogLevel::kVerbose).empty());
}

TEST_P(Shared_memory_update_word_test, FailedWriteLogsWarningAndTheStateFailureLine)
{
    Shared_memory_update sut("/dev/full");

    (sut.*GetParam().operation)();

    const std::string word = GetParam().word;
    EXPECT_EQ(m_capture.texts(LogLevel::kWarn),
              std::vector<std::string>{"I/O exception while writing \"" + word + "\" to file: /dev/full"});
    EXPECT_EQ(m_capture.texts(LogLevel::kVerbose),
              std::vector<std::string>{"Failed to set " + word + " state in shared memory!"});
}

TEST_P(Shared_memory_update_word_test, UnderAServiceManagerTheWordBecomesItsStatusLineAfterTheFileWrite)
{
    auto service_manager = std::make_shared<::testing::NiceMock<Mock_service_manager>>();
    ON_CALL(*service_manager, is_present()).WillByDefault(::testing::Return(true));
    std::string file_at_status;
    EXPECT_CALL(*service_manager, notify(::testing::StrEq(std::string{"STATUS="} + GetParam().word)))
        .WillOnce(
            [&](const char*)
            {
                file_at_status = m_dir.read_file("set_status");
                return 1;
            });
    Shared_memory_update sut(m_dir.file("set_status"), service_manager);

    (sut.*GetParam().operation)();

    EXPECT_EQ(file_at_status, GetParam().word);
}

TEST_P(Shared_memory_update_word_test, FailedFileWriteStillShowsTheStatusLine)
{
    auto service_manager = std::make_shared<::testing::NiceMock<Mock_service_manager>>();
    ON_CALL(*service_manager, is_present()).WillByDefault(::testing::Return(true));
    EXPECT_CALL(*service_manager, notify(::testing::StrEq(std::string{"STATUS="} + GetParam().word)))
        .WillOnce(::testing::Return(1));
    Shared_memory_update sut("/dev/full", service_manager);

    (sut.*GetParam().operation)();
}

INSTANTIATE_TEST_SUITE_P(Words, Shared_memory_update_word_test, ::testing::ValuesIn(s_status_words), status_word_name);

TEST_F(Shared_memory_update_test, WithoutAServiceManagerListeningNothingIsSent)
{
    auto service_manager = std::make_shared<::testing::NiceMock<Mock_service_manager>>();
    ON_CALL(*service_manager, is_present()).WillByDefault(::testing::Return(false));
    EXPECT_CALL(*service_manager, notify(::testing::_)).Times(0);
    Shared_memory_update sut(m_dir.file("set_status"), service_manager);

    sut.starting_up();
    sut.running();

    EXPECT_EQ(m_dir.read_file("set_status"), "startinguprunning");
}

TEST_F(Shared_memory_update_test, StatusLineThatCannotBeSentIsADebugLineOnly)
{
    auto service_manager = std::make_shared<::testing::NiceMock<Mock_service_manager>>();
    ON_CALL(*service_manager, is_present()).WillByDefault(::testing::Return(true));
    ON_CALL(*service_manager, notify(::testing::_)).WillByDefault(::testing::Return(-ECONNREFUSED));
    Shared_memory_update sut(m_dir.file("set_status"), service_manager);

    sut.preparing();

    EXPECT_EQ(m_dir.read_file("set_status"), "preparing");
    EXPECT_EQ(m_capture.count("Failed to show preparing state to the service manager!", LogLevel::kDebug), 1U);
    EXPECT_TRUE(m_capture.texts(LogLevel::kWarn).empty());
}

TEST_F(Shared_memory_update_test, SuccessiveWordsRunTogetherInAnOrdinaryFile)
{
    m_dir.write_file("set_status", "old content that is truncated");
    Shared_memory_update sut(m_dir.file("set_status"));

    // entering Running, then Post Run
    sut.running();
    sut.post_run();

    EXPECT_EQ(m_dir.read_file("set_status"), "runningpostrun");
}

TEST_F(Shared_memory_update_test, EmptyDataWritesNothingAndCountsAsWritten)
{
    Shared_memory_update sut(m_dir.file("set_status"));

    EXPECT_TRUE(sut.write_to_memory(""));

    EXPECT_EQ(m_dir.read_file("set_status"), "");
    EXPECT_EQ(m_capture.count("No data provided for shared memory write!", LogLevel::kDebug), 1U);
}

TEST_F(Shared_memory_update_test, UnopenableFileIsLoggedOnceAndEveryWriteReportsFailure)
{
    const std::string path = m_dir.file("missing/set_status");
    Shared_memory_update sut(path);

    sut.running();
    const bool written = sut.write_to_memory("postrun");

    EXPECT_FALSE(written);
    EXPECT_EQ(m_capture.texts(LogLevel::kError),
              std::vector<std::string>{"Invalid Shared memory file provided: " + path + "!"});
    EXPECT_EQ(m_capture.texts(LogLevel::kVerbose),
              std::vector<std::string>{"Failed to set running state in shared memory!"});
    EXPECT_EQ(m_capture.texts(LogLevel::kWarn).size(), 2U);
}

TEST_F(Shared_memory_update_test, FailureDoesNotSilenceLaterWordsOfTheSameWriter)
{
    Shared_memory_update sut("/dev/full");

    sut.running();
    sut.post_run();

    EXPECT_EQ(m_capture.texts(LogLevel::kWarn),
              (std::vector<std::string>{"I/O exception while writing \"running\" to file: /dev/full",
                                        "I/O exception while writing \"postrun\" to file: /dev/full"}));
}

TEST_F(Shared_memory_update_test, ClosedWriterReportsFailure)
{
    Shared_memory_update sut(m_dir.file("set_status"));
    sut.running();

    sut.close_file();

    EXPECT_FALSE(sut.write_to_memory("postrun"));
    EXPECT_EQ(m_dir.read_file("set_status"), "running");
}

/// The reboot writer with its writes recorded and their outcomes scripted.
class Scripted_reboot final : public Shared_memory_reboot
{
  public:
    Scripted_reboot(const std::string& path, std::vector<bool> outcomes)
        : Shared_memory_reboot(path)
        , m_outcomes(std::move(outcomes))
    {
    }

    bool write_to_memory(std::string data) override
    {
        m_written.push_back(data);
        const bool outcome = m_next < m_outcomes.size() ? m_outcomes[m_next] : true;
        ++m_next;
        return outcome;
    }

    std::vector<std::string> m_written;

  private:
    std::vector<bool> m_outcomes;
    std::size_t m_next{0};
};

struct Reboot_case
{
    const char* label;
    std::vector<bool> outcomes;
    std::vector<std::string> expected_writes;
};

void PrintTo(const Reboot_case& value, std::ostream* os)
{
    *os << value.label;
}

class Shared_memory_reboot_test : public ::testing::TestWithParam<Reboot_case>
{
  protected:
    tarn1::testing::Temp_dir m_dir;
};

TEST_P(Shared_memory_reboot_test, FailedRequestIsCancelledAndRetriedExactlyOnce)
{
    Scripted_reboot sut(m_dir.file("command_request"), GetParam().outcomes);

    sut.restart_vm();

    EXPECT_EQ(sut.m_written, GetParam().expected_writes);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes,
    Shared_memory_reboot_test,
    ::testing::Values(Reboot_case{"FirstWriteSucceeds", {true}, {"restartao"}},
                      Reboot_case{"RetrySucceeds", {false, true, true}, {"restartao", "cancel", "restartao"}},
                      Reboot_case{"EverythingFails", {false, false, false}, {"restartao", "cancel", "restartao"}},
                      Reboot_case{
                          "CancelFailsRetrySucceeds", {false, false, true}, {"restartao", "cancel", "restartao"}}),
    [](const ::testing::TestParamInfo<Reboot_case>& param) { return std::string{param.param.label}; });

TEST(Shared_memory_reboot_file_test, RestartWordsReachTheCommandFile)
{
    tarn1::testing::Temp_dir dir;
    Shared_memory_reboot sut(dir.file("command_request"));

    sut.restart_vm();
    sut.restart_m3();

    EXPECT_EQ(dir.read_file("command_request"), "restartaorestartm3");
}

TEST(Shared_memory_reboot_file_test, FailingCommandFileGetsOneCancelAndOneRetry)
{
    ara::log::testing::Log_capture capture;
    Shared_memory_reboot sut("/dev/full");

    sut.restart_m3();

    EXPECT_EQ(capture.texts(LogLevel::kWarn),
              (std::vector<std::string>{"I/O exception while writing \"restartm3\" to file: /dev/full",
                                        "I/O exception while writing \"cancel\" to file: /dev/full",
                                        "I/O exception while writing \"restartm3\" to file: /dev/full"}));
}

TEST(Shared_memory_reboot_file_test, UnopenableCommandFileGetsOneCancelAndOneRetry)
{
    ara::log::testing::Log_capture capture;
    tarn1::testing::Temp_dir dir;
    Shared_memory_reboot sut(dir.file("no/such/folder"));

    sut.restart_vm();

    EXPECT_EQ(capture.texts(LogLevel::kWarn).size(), 3U);
    EXPECT_TRUE(capture.contains_fragment("\"cancel\""));
}

} // namespace
} // namespace vela::ap::statemanager::smw
