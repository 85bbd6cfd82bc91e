#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace tarn1::uinput
{

/// Where the kernel's views of the devices are: sysfs and the device folder. Normally /sys and
/// /dev; inside the simulator's private namespace they are bound elsewhere.
struct Device_places
{
    std::string sys{"/sys"};
    std::string dev{"/dev"};
};

/// The device name of an event node (EVIOCGNAME); empty when it cannot be read.
using Name_reader = std::function<std::string(const std::string& node)>;

/// EVIOCGNAME of the node at path.
std::string evdev_name(const std::string& node);

/// The event node of a uinput device: "<dev>/input/eventN" for the eventN entry of
/// "<sys>/devices/virtual/input/<sysname>"; where sysfs does not describe the device, the
/// "<dev>/input/event*" node whose device name is name. Waits up to timeout for a readable node
/// (udev may still be making it or setting its rights); empty when none came.
std::string find_event_node(const Device_places& places,
                            const std::string& sysname,
                            const std::string& name,
                            std::chrono::milliseconds timeout,
                            const Name_reader& read_name = evdev_name);

} // namespace tarn1::uinput
