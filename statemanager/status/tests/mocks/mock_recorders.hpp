#pragma once

#include "statemanager/status/holder_recorder_interface.hpp"
#include "statemanager/status/machine_recorder_interface.hpp"
#include "statemanager/status/round_recorder_interface.hpp"
#include "statemanager/status/status_publisher_interface.hpp"

#include <gmock/gmock.h>

namespace vela::ap::statemanager::status::testing
{

class Mock_holder_recorder : public Holder_recorder_interface
{
  public:
    MOCK_METHOD(void,
                holder_changed,
                (Holder_kind, const std::string&, bool, const std::vector<std::uint8_t>&, std::uint8_t),
                (override));
    MOCK_METHOD(void, nm_call, (Nm_call, const std::vector<std::uint8_t>&), (override));
    MOCK_METHOD(void, network_state_received, (const std::vector<std::uint8_t>&), (override));
    MOCK_METHOD(void, ecu_state_changed, (std::uint8_t), (override));
    MOCK_METHOD(void, nm_services_found, (), (override));
    MOCK_METHOD(void, nm_sending_changed, (bool), (override));
};

class Mock_machine_recorder : public Machine_recorder_interface
{
  public:
    MOCK_METHOD(void, transition, (const Transition_facts&), (override));
    MOCK_METHOD(void, knockout_changed, (std::uint32_t, std::uint32_t), (override));
};

class Mock_round_recorder : public Round_recorder_interface
{
  public:
    MOCK_METHOD(void, step_completed, (const Step_record&), (override));
    MOCK_METHOD(void,
                late_answer,
                (std::uint64_t, const std::string&, std::uint8_t, const std::string&, std::uint32_t),
                (override));
};

class Mock_status_publisher : public Status_publisher_interface
{
  public:
    MOCK_METHOD(void, publish, (const State_value&, const Transition_report&), (override));
};

} // namespace vela::ap::statemanager::status::testing
