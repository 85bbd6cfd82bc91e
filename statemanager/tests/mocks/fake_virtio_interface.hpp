#pragma once

#include "statemanager/virtio/virtio_command_queue.hpp"
#include "statemanager/virtio/virtio_interface_abstract.hpp"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace vela::ap::statemanager::testing
{

/// The hypervisor's virtual input without devices: the test presses keys, and the daemon's own
/// command queue takes them by its rules (a repeated command is dropped, the power key empties the
/// queue first). get_command() waits up to its bound for a key press, as the device wait does, and
/// only then takes the presses into the queue, so the queue changes on the loop's thread only.
class Fake_virtio_interface final : public virtio::Virtio_interface_abstract
{
  public:
    enum class Key
    {
        N,
        S,
        P,
        R,
        Power
    };

    /// A key press of the hypervisor; callable from any thread. Like a device event it reaches
    /// the queue only inside the loop's next get_command().
    void press(Key key)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.push_back(key);
        m_changed.notify_all();
    }

    /// The commands not yet consumed, oldest first.
    std::deque<virtio::Virtio_command> queue() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_queue.commands();
    }

    /// How many times the loop has asked for a command.
    std::size_t waits() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_waits;
    }

    /// Waits until the loop has asked for a command at least this often.
    bool wait_for_waits(std::size_t count, std::chrono::milliseconds timeout) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_waits >= count; });
    }

    bool init(std::string /*directory*/) override { return true; }

    virtio::Virtio_command get_command(unsigned int timeout_ms) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_waits;
        m_changed.notify_all();
        m_changed.wait_for(lock, std::chrono::milliseconds{timeout_ms}, [&] { return !m_pending.empty(); });
        for (const Key key : m_pending)
        {
            apply(key);
        }
        m_pending.clear();
        return m_queue.front();
    }

    void command_consumed() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.consume();
    }

  private:
    void apply(Key key)
    {
        switch (key)
        {
        case Key::N:
            m_queue.add_command(virtio::Virtio_command::NmControlled);
            break;
        case Key::S:
            m_queue.add_command(virtio::Virtio_command::NMControlledPrepareSD);
            break;
        case Key::P:
            m_queue.add_command(virtio::Virtio_command::PrepareSD);
            break;
        case Key::R:
            m_queue.add_command(virtio::Virtio_command::Run);
            break;
        case Key::Power:
            m_queue.power_key();
            break;
        }
    }

    // Guards everything below: the test presses keys on its thread, the loop waits on its own.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    virtio::Virtio_command_queue m_queue;
    std::vector<Key> m_pending;
    std::size_t m_waits{0};
};

} // namespace vela::ap::statemanager::testing
