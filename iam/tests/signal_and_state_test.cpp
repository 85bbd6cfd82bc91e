#include "ara/log/testing/log_capture.h"
#include "iam/application_state.hpp"
#include "iam/signal_handler.hpp"
#include "iam/tests/mocks/mock_application_client.hpp"

#include <asio/io_context.hpp>
#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdexcept>

namespace vela::iam
{
namespace
{

using ara::exec::ApplicationReturnType;
using ara::exec::ApplicationState;
using testing::Mock_application_client;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::Throw;
using Log_level = ara::log::LogLevel;

class Signal_handler_test : public ::testing::Test
{
  protected:
    ~Signal_handler_test() override { std::signal(SIGTERM, SIG_DFL); }

    asio::io_context m_io;
};

TEST_F(Signal_handler_test, SigtermStopsTheEventLoop)
{
    Signal_pipe pipe(m_io);
    Signal_handler sut(&Signal_pipe::notify);
    sut.register_signal_handler();

    ASSERT_EQ(std::raise(SIGTERM), 0);
    m_io.run_for(std::chrono::seconds(5));

    EXPECT_TRUE(m_io.stopped());
}

TEST_F(Signal_handler_test, LoopKeepsRunningWithoutSignal)
{
    Signal_pipe pipe(m_io);

    m_io.run_for(std::chrono::milliseconds(20));

    EXPECT_FALSE(m_io.stopped());
}

TEST_F(Signal_handler_test, RefusedRegistrationThrowsSystemError)
{
    Signal_handler sut(&Signal_pipe::notify);

    try
    {
        sut.register_signal_handler(SIGKILL);
        FAIL() << "SIGKILL accepted";
    }
    catch (const std::system_error& error)
    {
        EXPECT_EQ(std::string(error.what()).rfind("sigaction() failed", 0), 0U) << error.what();
    }
}

class Application_state_test : public ::testing::Test
{
  protected:
    std::unique_ptr<Mock_application_client> client_answering(ApplicationReturnType running,
                                                              ApplicationReturnType terminating)
    {
        auto client = std::make_unique<NiceMock<Mock_application_client>>();
        ON_CALL(*client, ReportApplicationState(ApplicationState::kRunning)).WillByDefault(Return(running));
        ON_CALL(*client, ReportApplicationState(ApplicationState::kTerminating)).WillByDefault(Return(terminating));
        return client;
    }

    ara::log::testing::Log_capture m_capture;
};

TEST_F(Application_state_test, ReportsRunningThenTerminating)
{
    {
        Application_state sut(client_answering(ApplicationReturnType::kSuccess, ApplicationReturnType::kSuccess));
    }

    EXPECT_EQ(m_capture.texts_of_context("IAM"),
              (std::vector<std::string>{"Application_state:0reported with success",
                                        "~Application_state: 1reported with success"}));
}

TEST_F(Application_state_test, FailedReportsAreWarnings)
{
    {
        Application_state sut(
            client_answering(ApplicationReturnType::kGeneralError, ApplicationReturnType::kGeneralError));
    }

    EXPECT_EQ(m_capture.count("Application_state:0reported with failure", Log_level::kWarn), 1U);
    EXPECT_EQ(m_capture.count("~Application_state: 1reported with failure", Log_level::kWarn), 1U);
}

TEST_F(Application_state_test, ThrowingRunningReportIsLoggedAndPassedOn)
{
    auto client = std::make_unique<NiceMock<Mock_application_client>>();
    ON_CALL(*client, ReportApplicationState(ApplicationState::kRunning))
        .WillByDefault(Throw(std::runtime_error("execution management gone")));

    EXPECT_THROW(Application_state sut(std::move(client)), std::runtime_error);
    EXPECT_EQ(m_capture.count("Application_state: execution management gone", Log_level::kError), 1U);
}

} // namespace
} // namespace vela::iam
