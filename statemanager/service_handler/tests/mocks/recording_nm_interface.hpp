#pragma once

#include "statemanager/nm/nm_interface_abstract.hpp"
#include "statemanager/service_handler/service_handler.hpp"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vela::ap::statemanager::testing
{

/// An NM client that records every request as text ("request_network(01 00 00 00 )"), its stop
/// ("stopped") and its destruction ("destroyed"), and keeps the find-service completion and the state callback so a
/// test can play the NM side.
/// Shared with the test through a State pointer because the service handler owns the client.
class Recording_nm_interface final : public Nm_interface_abstract
{
  public:
    struct State
    {
        // Guards everything below: the service handler's threads record, the test thread reads.
        std::mutex mutex;
        std::vector<std::string> calls;
        std::function<void()> on_found;
        std::function<void(const std::vector<std::uint8_t>&)> state_callback;
        /// Runs when the client is stopped, after "stopped" was recorded.
        std::function<void()> on_stopped;
        /// Runs when the client is destroyed, after "destroyed" was recorded.
        std::function<void()> on_destroyed;

        std::vector<std::string> take_calls()
        {
            std::lock_guard<std::mutex> lock(mutex);
            std::vector<std::string> taken;
            taken.swap(calls);
            return taken;
        }
        /// Plays both NM services being found.
        void found()
        {
            std::function<void()> run;
            {
                std::lock_guard<std::mutex> lock(mutex);
                run = on_found;
            }
            run();
        }
        /// Plays a NetworkState notification.
        void notify(const std::vector<std::uint8_t>& value)
        {
            std::function<void(const std::vector<std::uint8_t>&)> run;
            {
                std::lock_guard<std::mutex> lock(mutex);
                run = state_callback;
            }
            run(value);
        }
    };

    explicit Recording_nm_interface(std::shared_ptr<State> state)
        : m_state(std::move(state))
    {
    }
    ~Recording_nm_interface() override
    {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(m_state->mutex);
            m_state->calls.emplace_back("destroyed");
            hook = m_state->on_destroyed;
        }
        if (hook)
        {
            hook();
        }
    }
    Recording_nm_interface(const Recording_nm_interface&) = delete;
    Recording_nm_interface& operator=(const Recording_nm_interface&) = delete;

    void release_network(const std::vector<std::uint8_t>& pattern) override
    {
        record("release_network(" + Service_handler::bitvector2str(pattern) + ")");
    }
    void request_network(const std::vector<std::uint8_t>& pattern) override
    {
        record("request_network(" + Service_handler::bitvector2str(pattern) + ")");
    }
    void set_user_data(const std::vector<std::uint8_t>& data) override
    {
        record("set_user_data(" + Service_handler::bitvector2str(data) + ")");
    }
    void start_find_services(const std::function<void()>& on_found) override
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->on_found = on_found;
        m_state->calls.emplace_back("start_find_services");
    }
    void set_network_state_updated_func(const std::function<void(const std::vector<std::uint8_t>&)>& func) override
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->state_callback = func;
    }
    void stop() override
    {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(m_state->mutex);
            m_state->calls.emplace_back("stopped");
            hook = m_state->on_stopped;
        }
        if (hook)
        {
            hook();
        }
    }

  private:
    void record(const std::string& call)
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->calls.push_back(call);
    }

    std::shared_ptr<State> m_state;
};

} // namespace vela::ap::statemanager::testing
