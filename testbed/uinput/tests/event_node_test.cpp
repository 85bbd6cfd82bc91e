#include "testbed/support/temp_dir.hpp"
#include "testbed/uinput/event_node.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <ostream>
#include <thread>
#include <vector>

namespace tarn1::uinput
{
namespace
{

using namespace std::chrono_literals;

const char* const s_keyboard = "tarn1 sim keyboard 42";

struct Node_case
{
    const char* title;
    std::vector<std::string> sys_entries;     // below sys/devices/virtual/input
    std::map<std::string, std::string> nodes; // dev/input entry -> its device name
    std::string expected;                     // dev/input entry, "" for none
};

void PrintTo(const Node_case& value, std::ostream* os)
{
    *os << value.title;
}

class Event_node_test : public ::testing::Test
{
  protected:
    void make(const std::string& relative) const
    {
        const std::filesystem::path path = dir.file(relative);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream{path};
    }

    tarn1::testing::Temp_dir dir;
    Device_places places{dir.file("sys"), dir.file("dev")};
};

class Event_node_places_test : public Event_node_test, public ::testing::WithParamInterface<Node_case>
{
};

TEST_P(Event_node_places_test, NodeOfTheKeyboardIsFound)
{
    const auto& param = GetParam();
    for (const auto& entry : param.sys_entries)
    {
        make("sys/devices/virtual/input/" + entry);
    }
    for (const auto& [node, name] : param.nodes)
    {
        make("dev/input/" + node);
    }
    const Name_reader read_name = [&](const std::string& node)
    {
        const auto found = param.nodes.find(std::filesystem::path(node).filename());
        return found == param.nodes.end() ? std::string() : found->second;
    };

    const std::string node = find_event_node(places, "input7", s_keyboard, 0ms, read_name);

    EXPECT_EQ(node, param.expected.empty() ? "" : dir.file("dev/input/" + param.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Places,
    Event_node_places_test,
    ::testing::Values(Node_case{"SysfsNamesTheNode",
                                {"input7/event5", "input7/capabilities/key", "input3/event2"},
                                {{"event2", s_keyboard}, {"event5", "other"}},
                                "event5"},
                      Node_case{"WithoutSysfsTheDeviceNameDecides",
                                {},
                                {{"event0", "Power Button"}, {"event3", s_keyboard}, {"mouse0", s_keyboard}},
                                "event3"},
                      Node_case{"SysfsNodeMissingFromTheDeviceFolderFallsBackToTheName",
                                {"input7/event9"},
                                {{"event4", s_keyboard}},
                                "event4"},
                      Node_case{"ANameThatOnlyStartsTheSameIsNoMatch", {}, {{"event1", "tarn1 sim keyboard 4"}}, ""},
                      Node_case{"NoDevicesAtAllIsNoNode", {}, {}, ""}),
    [](const ::testing::TestParamInfo<Node_case>& param_info) { return param_info.param.title; });

TEST_F(Event_node_test, NodeMadeAfterTheKeyboardIsWaitedFor)
{
    make("sys/devices/virtual/input/input7/event6");
    std::thread udev(
        [this]
        {
            std::this_thread::sleep_for(100ms);
            make("dev/input/event6");
        });

    const std::string node = find_event_node(places, "input7", s_keyboard, 5s);
    udev.join();

    EXPECT_EQ(node, dir.file("dev/input/event6"));
}

} // namespace
} // namespace tarn1::uinput
