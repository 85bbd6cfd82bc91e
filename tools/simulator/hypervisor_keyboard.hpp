#pragma once

#include "testbed/uinput/event_node.hpp"
#include "testbed/uinput/uinput_keyboard.hpp"

#include <cstdint>
#include <memory>
#include <string>

namespace tarn1::simulator
{

/// The hypervisor's keyboard as the daemon finds it: an event device in /dev/input.
class Hypervisor_keyboard_interface
{
  public:
    virtual ~Hypervisor_keyboard_interface() = default;

    /// One whole key stroke: key down, sync, key up, sync. False with error set when it cannot
    /// be delivered. Called from the scenario runner's thread.
    virtual bool press(std::uint16_t code, std::string& error) = 0;

    /// What the daemon reads, for the journal ("fifo /dev/input/event0").
    virtual std::string description() const = 0;

  protected:
    Hypervisor_keyboard_interface() = default;
    Hypervisor_keyboard_interface(const Hypervisor_keyboard_interface&) = default;
    Hypervisor_keyboard_interface& operator=(const Hypervisor_keyboard_interface&) = default;
};

/// A FIFO standing in for the device (the preloaded stand-in library answers the daemon's event
/// type query for it). Held open for reading and writing for the whole run, so the daemon never
/// sees a hang-up between strokes.
class Fifo_keyboard final : public Hypervisor_keyboard_interface
{
  public:
    /// Makes the FIFO at path; null with error set when it cannot be made or opened.
    static std::unique_ptr<Fifo_keyboard> create(const std::string& path, std::string& error);
    ~Fifo_keyboard() override;

    Fifo_keyboard(const Fifo_keyboard&) = delete;
    Fifo_keyboard& operator=(const Fifo_keyboard&) = delete;

    bool press(std::uint16_t code, std::string& error) override;
    std::string description() const override { return "fifo " + m_path; }

  private:
    Fifo_keyboard(std::string path, int fd);

    std::string m_path;
    int m_fd;
};

/// A real keyboard made through uinput. The kernel puts its event node into the machine's device
/// folder, which the private namespace hides; the keyboard's path in the private /dev/input
/// becomes a link to that node in the machine's device folder kept visible inside the namespace.
class Uinput_hypervisor_keyboard final : public Hypervisor_keyboard_interface
{
  public:
    /// Makes the keyboard through uinput_device, finds its node under places and links path to
    /// it; null with error set when any step fails (the keyboard is then removed again).
    static std::unique_ptr<Uinput_hypervisor_keyboard> create(const std::string& path,
                                                              const std::string& uinput_device,
                                                              const uinput::Device_places& places,
                                                              std::string& error);

    bool press(std::uint16_t code, std::string& error) override { return m_keyboard->press(code, error); }
    std::string description() const override { return "uinput " + m_path + " -> " + m_node; }

  private:
    Uinput_hypervisor_keyboard(std::unique_ptr<uinput::Uinput_keyboard> keyboard, std::string path, std::string node);

    std::unique_ptr<uinput::Uinput_keyboard> m_keyboard;
    std::string m_path;
    std::string m_node;
};

} // namespace tarn1::simulator
