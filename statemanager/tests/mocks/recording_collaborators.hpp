#pragma once

#include "statemanager/tests/mocks/mock_em_interface.hpp"
#include "statemanager/tests/mocks/mock_fast_shutdown_handler.hpp"
#include "statemanager/tests/mocks/mock_service_handler.hpp"
#include "statemanager/tests/mocks/mock_shared_memory_update.hpp"
#include "statemanager/tests/mocks/mock_state_notifier.hpp"

#include <chrono>
#include <cstddef>
#include <gmock/gmock.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vela::ap::statemanager::testing
{

/// One answer of a scripted query: the operation that must be asked and what it answers.
struct Scripted_answer
{
    const char* query;
    bool value;
};

/// The collaborators of the states (service handler, VM status writer, execution-management
/// interface, state notifier, fast-shutdown handler) as gmock doubles that write every call they
/// receive into one journal, in order. Queries answer from `world`, which the test changes between
/// cycles, or, once script() was called, from that script in the order it gives; a query asked out
/// of turn answers false and shows up in queries(). Thread-safe, so a test may read while a loop
/// thread runs the states.
class Recording_collaborators final
{
  public:
    /// What the queries answer when no script is loaded.
    struct World
    {
        bool nm_interface_available{false};
        bool ecu_in_sleep_mode{false};
        bool apps_keep_ecu_alive{false};
        bool apps_keep_com_alive{false};
        /// How many more check_request_status() calls answer true (a sequence still running).
        unsigned int busy_checks{0};
        bool fast_shutdown_possible{false};
    };

    Recording_collaborators()
    {
        using ::testing::_;
        auto& handler = *service_handler;
        ON_CALL(handler, nm_interface_available()).WillByDefault([this] { return ask("nm_interface_available"); });
        ON_CALL(handler, ecu_in_sleep_mode()).WillByDefault([this] { return ask("ecu_in_sleep_mode"); });
        ON_CALL(handler, apps_keep_ecu_alive()).WillByDefault([this] { return ask("apps_keep_ecu_alive"); });
        ON_CALL(handler, apps_keep_com_alive()).WillByDefault([this] { return ask("apps_keep_com_alive"); });
        ON_CALL(handler, is_network_in_use()).WillByDefault([this] { return ask("is_network_in_use"); });
        ON_CALL(handler, init()).WillByDefault([this] { record("init"); });
        ON_CALL(handler, deinit()).WillByDefault([this] { record("deinit"); });
        ON_CALL(handler, request_network()).WillByDefault([this] { record("request_network"); });
        ON_CALL(handler, release_network()).WillByDefault([this] { record("release_network"); });
        ON_CALL(handler, standby()).WillByDefault([this] { record("standby"); });
        ON_CALL(handler, end_standby()).WillByDefault([this] { record("end_standby"); });

        auto& writer = *status_writer;
        ON_CALL(writer, starting_up()).WillByDefault([this] { write_status("startingup"); });
        ON_CALL(writer, running()).WillByDefault([this] { write_status("running"); });
        ON_CALL(writer, shutting_down()).WillByDefault([this] { write_status("shuttingdown"); });
        ON_CALL(writer, run_nm_controlled()).WillByDefault([this] { write_status("runnmcontrolled"); });
        ON_CALL(writer, post_run()).WillByDefault([this] { write_status("postrun"); });
        ON_CALL(writer, preparing()).WillByDefault([this] { write_status("preparing"); });
        ON_CALL(writer, prepared_4_sd()).WillByDefault([this] { write_status("prepared4sd"); });
        ON_CALL(writer, resuming()).WillByDefault([this] { write_status("resuming"); });

        ON_CALL(*em_interface, request_running()).WillByDefault([this] { record("request_running"); });
        ON_CALL(*em_interface, request_shutdown()).WillByDefault([this] { record("request_shutdown"); });

        ON_CALL(*state_notifier, request_standby()).WillByDefault([this] { record("request_standby"); });
        ON_CALL(*state_notifier, request_resume()).WillByDefault([this] { record("request_resume"); });
        ON_CALL(*state_notifier, check_request_status()).WillByDefault([this] { return ask("check_request_status"); });

        ON_CALL(*fast_shutdown_handler, process_lookup()).WillByDefault([this] { record("process_lookup"); });
        ON_CALL(*fast_shutdown_handler, is_possible()).WillByDefault([this] { return ask("is_possible"); });
        ON_CALL(*fast_shutdown_handler, start_fast_shutdown(_))
            .WillByDefault([this](std::chrono::milliseconds ms)
                           { record("start_fast_shutdown(" + std::to_string(ms.count()) + ")"); });
    }

    Recording_collaborators(const Recording_collaborators&) = delete;
    Recording_collaborators& operator=(const Recording_collaborators&) = delete;

    /// Changes the world the queries answer from.
    template <typename Change> void change_world(Change change)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        change(m_world);
    }

    /// From now on the queries answer these values, in this order.
    void script(const std::vector<Scripted_answer>& answers)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_script = answers;
        m_scripted = true;
        m_next_answer = 0;
    }

    /// Every call received, in order: operation names, status words as "status <word>".
    std::vector<std::string> journal() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_journal;
    }

    /// The journal without the queries.
    std::vector<std::string> actions() const { return filtered(false); }

    /// Only the queries, in the order they were asked.
    std::vector<std::string> queries() const { return filtered(true); }

    /// The words written to the VM status file, in order.
    std::vector<std::string> status_words() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_status_words;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_journal.clear();
        m_is_query.clear();
        m_status_words.clear();
    }

    std::shared_ptr<::testing::NiceMock<Mock_service_handler>> service_handler =
        std::make_shared<::testing::NiceMock<Mock_service_handler>>();
    std::shared_ptr<::testing::NiceMock<Mock_shared_memory_update>> status_writer =
        std::make_shared<::testing::NiceMock<Mock_shared_memory_update>>();
    std::shared_ptr<::testing::NiceMock<Mock_em_interface>> em_interface =
        std::make_shared<::testing::NiceMock<Mock_em_interface>>();
    std::shared_ptr<::testing::NiceMock<Mock_state_notifier>> state_notifier =
        std::make_shared<::testing::NiceMock<Mock_state_notifier>>();
    std::shared_ptr<::testing::NiceMock<Mock_fast_shutdown_handler>> fast_shutdown_handler =
        std::make_shared<::testing::NiceMock<Mock_fast_shutdown_handler>>();

  private:
    bool ask(const std::string& query)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_journal.push_back(query);
        m_is_query.push_back(true);
        if (m_scripted)
        {
            const std::size_t index = m_next_answer++;
            return index < m_script.size() && query == m_script[index].query && m_script[index].value;
        }
        if (query == "nm_interface_available")
        {
            return m_world.nm_interface_available;
        }
        if (query == "ecu_in_sleep_mode")
        {
            return m_world.ecu_in_sleep_mode;
        }
        if (query == "apps_keep_ecu_alive")
        {
            return m_world.apps_keep_ecu_alive;
        }
        if (query == "apps_keep_com_alive")
        {
            return m_world.apps_keep_com_alive;
        }
        if (query == "is_network_in_use")
        {
            return m_world.apps_keep_com_alive || m_world.apps_keep_ecu_alive;
        }
        if (query == "check_request_status")
        {
            if (m_world.busy_checks == 0)
            {
                return false;
            }
            --m_world.busy_checks;
            return true;
        }
        return query == "is_possible" && m_world.fast_shutdown_possible;
    }

    void record(const std::string& action)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_journal.push_back(action);
        m_is_query.push_back(false);
    }

    void write_status(const std::string& word)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_journal.push_back("status " + word);
        m_is_query.push_back(false);
        m_status_words.push_back(word);
    }

    std::vector<std::string> filtered(bool queries_wanted) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::string> result;
        for (std::size_t i = 0; i < m_journal.size(); ++i)
        {
            if (m_is_query[i] == queries_wanted)
            {
                result.push_back(m_journal[i]);
            }
        }
        return result;
    }

    // Guards everything below: the states call in on the loop's thread, the test reads and
    // changes the world on its own thread.
    mutable std::mutex m_mutex;
    World m_world;
    std::vector<Scripted_answer> m_script;
    bool m_scripted{false};
    std::size_t m_next_answer{0};
    std::vector<std::string> m_journal;
    std::vector<bool> m_is_query;
    std::vector<std::string> m_status_words;
};

} // namespace vela::ap::statemanager::testing
