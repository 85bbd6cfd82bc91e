#pragma once

#include "tools/simulator/journal.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace tarn1::simulator
{

/// One daemon started by the simulator: its standard error becomes "log" events, its end an
/// "exit" event ("Statewarden 0", "Statewarden signal 9").
class Child_process final
{
  public:
    Child_process(std::string name, std::string log_kind, Journal& journal);
    ~Child_process();

    Child_process(const Child_process&) = delete;
    Child_process& operator=(const Child_process&) = delete;

    /// Starts argv with environment (NAME=VALUE entries replacing the simulator's own, the rest
    /// inherited); the journal gets "started NAME (pid N)". Runner thread.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& environment, std::string& error);

    /// Whether it has not ended yet. Any thread.
    bool running() const { return !m_ended.load(); }

    /// Sends signal_number while it runs; false once it has ended. Runner thread.
    bool signal(int signal_number) const;

    /// SIGTERM, then SIGKILL when it has not ended within grace. Runner thread.
    void stop(std::chrono::milliseconds grace);

  private:
    void read_output(int fd);
    void wait_for_end();

    std::string m_name;
    std::string m_log_kind;
    Journal& m_journal;
    pid_t m_pid{-1};
    std::atomic<bool> m_ended{false};
    // Guards the end notification; met by the waiter thread and the stopping thread.
    std::mutex m_mutex;
    std::condition_variable m_ended_changed;
    std::thread m_reader;
    std::thread m_waiter;
};

} // namespace tarn1::simulator
