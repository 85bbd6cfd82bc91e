#pragma once

#include "client_state_notifier/client_states.hpp"

#include <gmock/gmock.h>
#include <memory>
#include <mutex>

namespace client_state_notifier::testing
{

/// Stands in for the client states server where its owner is tested without sockets. An observed
/// request reaches request_state_change like any other; its observer is kept for the test.
class Mock_client_states : public Client_states
{
  public:
    MOCK_METHOD((std::vector<std::pair<std::string, std::string>>), get_connected_clients, (), (const, override));
    MOCK_METHOD(void, set_default_state, (std::string), (override));
    MOCK_METHOD(void,
                request_state_change,
                (const std::string&, Filter, Completion_callback, const std::chrono::seconds&),
                (override));

    void request_state_change_observed(const std::string& state,
                                       Filter filter,
                                       Completion_callback callback,
                                       const std::chrono::seconds& timeout,
                                       std::shared_ptr<Request_observer> observer) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_last_observer = observer;
        }
        request_state_change(state, std::move(filter), std::move(callback), timeout);
    }

    /// The observer of the newest observed request.
    std::shared_ptr<Request_observer> last_observer() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_last_observer;
    }

  private:
    // Guards m_last_observer: the requesting thread stores, the test thread reads.
    mutable std::mutex m_mutex;
    std::shared_ptr<Request_observer> m_last_observer;
};

} // namespace client_state_notifier::testing
