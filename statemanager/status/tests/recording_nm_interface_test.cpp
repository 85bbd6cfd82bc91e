#include "statemanager/status/recording_nm_interface.hpp"
#include "statemanager/status/status_board.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vela::ap::statemanager::status
{
namespace
{

/// Records what reaches the wrapped client and keeps its callbacks, so the test plays the NM.
class Fake_nm final : public Nm_interface_abstract
{
  public:
    std::vector<std::string>& calls;
    std::function<void()> on_found;
    std::function<void(const std::vector<std::uint8_t>&)> on_state;

    explicit Fake_nm(std::vector<std::string>& recorded)
        : calls(recorded)
    {
    }
    void release_network(const std::vector<std::uint8_t>& pattern) override
    {
        calls.push_back("release " + std::to_string(pattern.size()));
    }
    void request_network(const std::vector<std::uint8_t>& pattern) override
    {
        calls.push_back("request " + std::to_string(pattern.size()));
    }
    void set_user_data(const std::vector<std::uint8_t>& data) override
    {
        calls.push_back("user data " + std::to_string(data.size()));
    }
    void start_find_services(const std::function<void()>& found) override { on_found = found; }
    void set_network_state_updated_func(const std::function<void(const std::vector<std::uint8_t>&)>& func) override
    {
        on_state = func;
    }
    void stop() override { calls.emplace_back("stop"); }
};

TEST(Recording_nm_interface_test, CallsPassThroughAndTheBoardSeesThemFirst)
{
    std::vector<std::string> calls;
    auto nm = std::make_unique<Fake_nm>(calls);
    Fake_nm& fake = *nm;
    const auto board = std::make_shared<Status_board>(true);
    Recording_nm_interface sut(std::move(nm), board);
    bool found_seen_by_completion = false;
    std::vector<std::uint8_t> state_seen_by_handler;
    sut.start_find_services([&] { found_seen_by_completion = board->holders().nm.found; });
    sut.set_network_state_updated_func([&](const std::vector<std::uint8_t>&)
                                       { state_seen_by_handler = board->holders().nm.network_state; });

    sut.request_network({0, 0, 0, 1});
    sut.release_network({1, 0});
    sut.set_user_data({0x80, 0, 0});
    fake.on_found();
    fake.on_state({0, 0});
    sut.stop();

    EXPECT_EQ(calls, (std::vector<std::string>{"request 4", "release 2", "user data 3", "stop"}));
    const auto nm_view = board->holders().nm;
    EXPECT_EQ(nm_view.last_requested, (std::vector<std::uint8_t>{0, 0, 0, 1}));
    EXPECT_EQ(nm_view.last_released, (std::vector<std::uint8_t>{1, 0}));
    EXPECT_EQ(nm_view.user_data, (std::vector<std::uint8_t>{0x80, 0, 0}));
    EXPECT_TRUE(found_seen_by_completion);
    EXPECT_EQ(state_seen_by_handler, (std::vector<std::uint8_t>{0, 0}));
}

} // namespace
} // namespace vela::ap::statemanager::status
