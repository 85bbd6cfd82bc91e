#pragma once

#include "tools/simulator/journal.hpp"
#include "tools/simulator/stoppable_thread.hpp"

#include <string>

namespace tarn1::simulator
{

/// The power-management daemon's side of the power-off pipe: each command line the daemon writes
/// becomes a "poweroff" event.
class Poweroff_reader final
{
  public:
    explicit Poweroff_reader(Journal& journal, std::string path = "/run/adaptive/poweroff");
    ~Poweroff_reader();

    /// Makes the pipe (an existing one is taken), opens it and starts reading. Runner thread.
    bool start(std::string& error);
    /// Ends the reading thread and closes the pipe; nothing is reported after it returns. Runner
    /// thread.
    void stop();

  private:
    void read_lines(int stop_fd);

    Journal& m_journal;
    std::string m_path;
    int m_fd{-1};
    // Last, so that it stops before the members its thread uses go.
    Stoppable_thread m_thread;
};

} // namespace tarn1::simulator
