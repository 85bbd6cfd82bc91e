#pragma once

#include "tools/simulator/journal.hpp"

#include <string>
#include <thread>

namespace tarn1::simulator
{

/// The power-management daemon's side of the power-off pipe: each command line the daemon writes
/// becomes a "poweroff" event.
class Poweroff_reader final
{
  public:
    explicit Poweroff_reader(Journal& journal, std::string path = "/run/adaptive/poweroff");
    ~Poweroff_reader();

    Poweroff_reader(const Poweroff_reader&) = delete;
    Poweroff_reader& operator=(const Poweroff_reader&) = delete;

    /// Makes the pipe (an existing one is taken), opens it and starts reading. Runner thread.
    bool start(std::string& error);
    /// Ends the reading thread and closes the pipe; nothing is reported after it returns. Runner
    /// thread.
    void stop();

  private:
    void read_lines();

    Journal& m_journal;
    std::string m_path;
    int m_fd{-1};
    int m_stop_pipe[2]{-1, -1};
    std::thread m_thread;
};

} // namespace tarn1::simulator
