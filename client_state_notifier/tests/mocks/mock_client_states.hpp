#pragma once

#include "client_state_notifier/client_states.hpp"

#include <gmock/gmock.h>

namespace client_state_notifier::testing
{

/// Stands in for the client states server where its owner is tested without sockets.
class Mock_client_states : public Client_states
{
public:
    MOCK_METHOD((std::vector<std::pair<std::string, std::string>>), get_connected_clients, (), (const, override));
    MOCK_METHOD(void, set_default_state, (std::string), (override));
    MOCK_METHOD(void,
                request_state_change,
                (const std::string&, Filter, Completion_callback, const std::chrono::seconds&),
                (override));
};

} // namespace client_state_notifier::testing
