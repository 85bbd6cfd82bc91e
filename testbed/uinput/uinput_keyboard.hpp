#pragma once

#include <cstdint>
#include <string>

namespace tarn1::uinput
{

/// A keyboard made through uinput that has the hypervisor's keys (R, N, S, P and the power key).
/// The kernel gives it an event node like any other input device; it is removed on destruction.
/// Every operation may be called from any one thread at a time.
class Uinput_keyboard final
{
  public:
    static constexpr const char* s_default_device = "/dev/uinput";

    /// Creates the keyboard named name through device. On failure ready() is false and error()
    /// says what went wrong.
    explicit Uinput_keyboard(std::string name, const std::string& device = s_default_device);
    /// Removes the keyboard from the kernel.
    ~Uinput_keyboard();

    Uinput_keyboard(const Uinput_keyboard&) = delete;
    Uinput_keyboard& operator=(const Uinput_keyboard&) = delete;

    bool ready() const { return m_error.empty(); }
    const std::string& error() const { return m_error; }
    const std::string& name() const { return m_name; }
    /// The kernel's name of the device ("input23"): its folder in /sys/devices/virtual/input.
    const std::string& sysname() const { return m_sysname; }

    /// One whole key stroke: key down, sync, key up, sync. False with error set when the keyboard
    /// is not ready or a record cannot be written whole.
    bool press(std::uint16_t code, std::string& error) const;

  private:
    bool emit(std::uint16_t type, std::uint16_t code, std::int32_t value, std::string& error) const;

    std::string m_name;
    std::string m_error;
    std::string m_sysname;
    int m_fd{-1};
};

} // namespace tarn1::uinput
