#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tarn1::evdev_standin
{

/// Key codes that the state manager understands.
namespace keys
{
constexpr std::uint16_t s_r = 19;
constexpr std::uint16_t s_p = 25;
constexpr std::uint16_t s_s = 31;
constexpr std::uint16_t s_n = 49;
constexpr std::uint16_t s_power = 116;
} // namespace keys

/// Creates a FIFO at path that stands in for an input event device. False (errno set) when it
/// cannot be made.
bool make_device(const std::string& path);

/// True when the preload library answers the event-type query in this process.
bool preload_active();

/// The key code of a name: "R", "P", "S", "N", "POWER" (any letter case) or a decimal number;
/// -1 for anything else.
int key_code(const std::string& name);

/// The writing end of a stand-in device: writes 24-byte input event records, as the kernel
/// delivers them on a 64-bit system. Closing it is the device's hang-up. Move-only.
class Evdev_writer final
{
  public:
    Evdev_writer() = default;
    ~Evdev_writer();

    Evdev_writer(const Evdev_writer&) = delete;
    Evdev_writer& operator=(const Evdev_writer&) = delete;
    Evdev_writer(Evdev_writer&& other) noexcept;
    Evdev_writer& operator=(Evdev_writer&& other) noexcept;

    /// Opens the stand-in at path for writing once a reader has it open (a FIFO has no writer
    /// without a reader); tries until timeout. False when no reader came in time.
    bool open(const std::string& path, std::chrono::milliseconds timeout);

    /// Writes one event record. False when it could not be written whole.
    bool write_event(std::uint16_t type, std::uint16_t code, std::int32_t value);

    /// One key stroke as a keyboard sends it: key down, sync, key up, sync.
    bool press(std::uint16_t key);

    /// Closes the writing end; the reader sees a hang-up.
    void close();

    bool is_open() const { return m_fd >= 0; }

  private:
    int m_fd{-1};
};

} // namespace tarn1::evdev_standin
