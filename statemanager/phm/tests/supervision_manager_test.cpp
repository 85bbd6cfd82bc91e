#include "ara/log/testing/log_capture.h"
#include "ara/phm/phm_client.h"
#include "statemanager/phm/supervision_manager.hpp"
#include "statemanager/phm/tests/mocks/mock_supervision_entity.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vela::ap::statemanager::phm
{
namespace
{

using ara::log::LogLevel;
using ::testing::Throw;

class Supervision_manager_test : public ::testing::Test
{
  protected:
    Supervision_manager_test()
    {
        auto entity = std::make_unique<::testing::StrictMock<testing::Mock_supervision_entity>>();
        m_entity = entity.get();
        sut = std::make_unique<Supervision_manager>(std::move(entity));
    }

    ara::log::testing::Log_capture m_capture;
    ::testing::StrictMock<testing::Mock_supervision_entity>* m_entity{nullptr};
    std::unique_ptr<Supervision_manager> sut;
};

TEST_F(Supervision_manager_test, EveryCycleReportsCheckpointOneOfEntityOne)
{
    EXPECT_CALL(*m_entity, CheckpointReached(1, 1)).Times(3);

    sut->report_alive_status();
    sut->report_alive_status();
    sut->report_alive_status();

    EXPECT_TRUE(m_capture.texts(LogLevel::kError).empty());
}

TEST_F(Supervision_manager_test, FirstRuntimeErrorStopsReportingForGoodWithTwoErrorLines)
{
    EXPECT_CALL(*m_entity, CheckpointReached(1, 1)).WillOnce(Throw(std::runtime_error("PHM gone")));

    sut->report_alive_status();
    sut->report_alive_status();
    sut->report_alive_status();

    EXPECT_EQ(
        m_capture.texts(LogLevel::kError),
        (std::vector<std::string>{"AliveSupervision: caught PHM gone", "Stopping AliveSupervision reporting to PHM!"}));
}

TEST_F(Supervision_manager_test, OtherExceptionsAreNotCaughtAndReportingGoesOn)
{
    EXPECT_CALL(*m_entity, CheckpointReached(1, 1)).WillOnce(Throw(std::logic_error("bug"))).WillOnce([] {});

    EXPECT_THROW(sut->report_alive_status(), std::logic_error);
    sut->report_alive_status();
}

TEST(Supervision_manager_platform_test, EmptyInstanceIdReachesThePlatformClientUnchanged)
{
    ara::log::testing::Log_capture capture;
    ara::phm::Phm_client client("");
    Supervision_manager sut(std::make_unique<ara::phm::SupervisionEntity>(client));

    sut.report_alive_status();

    EXPECT_TRUE(capture.contains("CheckpointReached(, 1, 1)"));
}

TEST(Supervision_manager_empty_test, NoEntityReportsNothingAndDoesNotCrash)
{
    Supervision_manager sut(nullptr);

    sut.report_alive_status();
}

} // namespace
} // namespace vela::ap::statemanager::phm
