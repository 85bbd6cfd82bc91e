// tarn1_evdev_key: presses keys on a stand-in input device (a FIFO that a reader has open).
//   tarn1_evdev_key [--wait <ms>] <device> <key>...
// Keys: R, P, S, N, POWER or a decimal key code. Each key is one stroke (down, sync, up, sync).

#include "testbed/evdev_standin/evdev_writer.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    int first = 1;
    long wait_ms = 5000;
    if (argc > 2 && std::strcmp(argv[1], "--wait") == 0)
    {
        wait_ms = std::strtol(argv[2], nullptr, 10);
        first = 3;
    }
    if (argc - first < 2)
    {
        (void)std::fprintf(
            stderr, "usage: %s [--wait <ms>] <device> <key>...  (keys: R P S N POWER or a code)\n", argv[0]);
        return 2;
    }
    const std::string device = argv[first];
    tarn1::evdev_standin::Evdev_writer writer;
    if (!writer.open(device, std::chrono::milliseconds{wait_ms}))
    {
        (void)std::fprintf(stderr, "%s: no reader has %s open\n", argv[0], device.c_str());
        return 1;
    }
    for (int index = first + 1; index < argc; ++index)
    {
        const int code = tarn1::evdev_standin::key_code(argv[index]);
        if (code < 0)
        {
            (void)std::fprintf(stderr, "%s: unknown key %s\n", argv[0], argv[index]);
            return 2;
        }
        if (!writer.press(static_cast<std::uint16_t>(code)))
        {
            (void)std::fprintf(stderr, "%s: writing to %s failed\n", argv[0], device.c_str());
            return 1;
        }
    }
    return 0;
}
