#pragma once

#include "tools/simulator/journal.hpp"
#include "tools/simulator/stoppable_thread.hpp"

#include <string>

namespace tarn1::simulator
{

/// Watches the VM control files the daemon writes, set_status and command_request in folder,
/// with inotify (and every 250 ms where the file system gives no notice): the run-together words
/// are split into "status" and "command" events as they arrive.
class Control_file_watcher final
{
  public:
    explicit Control_file_watcher(Journal& journal, std::string folder = "/sys/vmctl");

    /// Starts the watching thread. Runner thread.
    bool start(std::string& error);
    /// Ends the watching thread; nothing is reported after it returns. Runner thread.
    void stop();

  private:
    void watch(int stop_fd);

    Journal& m_journal;
    std::string m_folder;
    // Last, so that it stops before the members its thread uses go.
    Stoppable_thread m_thread;
};

} // namespace tarn1::simulator
