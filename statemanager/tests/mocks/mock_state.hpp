#pragma once

#include "statemanager/states/state_factory.hpp"
#include "statemanager/states/state_ids.hpp"
#include "statemanager/states/state_interface.hpp"

#include <array>
#include <gmock/gmock.h>
#include <memory>
#include <vector>

namespace vela::ap::statemanager::testing
{

class Mock_state : public states::State_interface
{
  public:
    explicit Mock_state(const std::string& name)
        : State_interface(nullptr, name)
    {
    }
    MOCK_METHOD(void, entering_state, (), (override));
    MOCK_METHOD(void, tick, (), (override));
    MOCK_METHOD(unsigned int, check_transition, (const virtio::Virtio_command& command), (override));
    MOCK_METHOD(bool, is_forced_shutdown, (), (override));
};

/// Hands out eight prepared mock states, named as the real ones, and records the order in which
/// they were asked for. The test keeps plain pointers to the states it configures.
class Fake_state_factory final : public states::State_factory_abstract
{
  public:
    Fake_state_factory(std::array<std::unique_ptr<::testing::NiceMock<Mock_state>>, states::s_state_count>& states,
                       std::vector<unsigned int>& requested_ids)
        : m_states(states)
        , m_requested_ids(requested_ids)
    {
    }

    std::unique_ptr<states::State_interface> create_state(unsigned int id) const override
    {
        m_requested_ids.push_back(id);
        if (id >= states::s_state_count)
        {
            return nullptr;
        }
        return std::move(m_states[id]);
    }

  private:
    std::array<std::unique_ptr<::testing::NiceMock<Mock_state>>, states::s_state_count>& m_states;
    std::vector<unsigned int>& m_requested_ids;
};

} // namespace vela::ap::statemanager::testing
