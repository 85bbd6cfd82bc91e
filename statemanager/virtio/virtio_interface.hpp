#pragma once

#include "statemanager/virtio/virtio_command.hpp"
#include "statemanager/virtio/virtio_command_queue.hpp"
#include "statemanager/virtio/virtio_interface_abstract.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vela::ap::statemanager::virtio
{

/// The hypervisor's virtual input devices: opens the key event devices of one directory,
/// waits for their events with epoll inside get_command() (the wait that paces the main loop),
/// turns the few known key presses into commands and queues them. No thread of its own; every
/// operation runs on the main thread, so the queue needs no lock.
class Virtio_interface final : public Virtio_interface_abstract
{
  public:
    /// Devices registered at most; also the epoll size hint and the events fetched per wait.
    static constexpr std::size_t s_max_devices = 5;

    Virtio_interface();
    /// Closes every registered device and the epoll descriptor.
    ~Virtio_interface() override;

    Virtio_interface(const Virtio_interface&) = delete;
    Virtio_interface& operator=(const Virtio_interface&) = delete;

    /// Opens every "event*" entry of the directory that reports key events and registers it
    /// with epoll (the first five; further ones are skipped with an error). False when the
    /// directory is missing, a device cannot be opened or registered, or none qualifies.
    bool init(std::string directory) override;

    /// Waits up to timeout_ms for input events and processes them (with no device registered,
    /// waits the whole bound), then returns the head of the queue, or Non when it is empty.
    Virtio_command get_command(unsigned int timeout_ms) override;

    /// Removes the head of the queue, if any.
    void command_consumed() override;

    /// Appends command unless it repeats the command received last (see Virtio_command_queue).
    void add_command(Virtio_command command);

    /// The event-type bitmap of the device (EVIOCGBIT(0, 8)); 0 when the ioctl fails.
    static std::uint64_t supported_event_types(int fd);

  private:
    /// One epoll wait of at most timeout_ms and the processing of what it returned.
    void read_input_events(unsigned int timeout_ms);
    /// Reads and decodes one event record of a ready device. False (logged) when no whole record
    /// could be read; read_error then holds the read's errno, or 0 for a short record.
    bool read_event(int fd, int& read_error);
    /// Turns one event into a command, or logs it as unsupported.
    void decode(std::uint16_t type, std::uint16_t code, std::int32_t value);
    /// Closes a device that hung up or was removed, and frees its slot.
    void close_device(int fd);
    /// Closes every registered device and the epoll descriptor.
    void release();

    std::int32_t m_device_count{0};
    int m_epoll_fd{-1};
    std::array<int, s_max_devices> m_devices;
    Virtio_command_queue m_commands;
    bool m_initialized{false};
};

} // namespace vela::ap::statemanager::virtio
