#pragma once

#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace tarn1::statewarden_ctl
{

/// Exit statuses of the tool.
enum Exit_status : int
{
    s_ok = 0,
    /// The service answered with an error, did not answer in time, or the SVG file cannot be written.
    s_failed = 1,
    s_usage = 2,
    /// No service of Statewarden is offered in the discovery folder: the daemon is not running there.
    s_not_running = 3,
    /// Statewarden runs but does not offer its status service.
    s_not_offered = 4
};

/// Ends a running "watch" from another thread (the signal watcher of main).
class Stop_signal
{
  public:
    void stop();
    /// Waits until stop() or the predicate holds; the caller holds lock on mutex().
    std::mutex& mutex() { return m_mutex; }
    std::condition_variable& changed() { return m_changed; }
    bool stopped() const { return m_stopped; }

  private:
    // Guards m_stopped; met by the stopping thread and the waiting one.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopped{false};
};

/// Runs one command line (arguments without the program name) against the Statewarden found in
/// the middleware's discovery folder (TARN1_COM_DIR); returns the exit status.
///   status [--json]                 state, holders, NM side, knock-out counter
///   watch [--json] [--count N]      one line per state change as it happens
///   history [--json] [--svg FILE]   the newest reports as a table; a timeline picture to FILE
/// Options before the command: --timeout MS (each call, default 3000), --wait MS (how long to wait
/// for the service to be offered, default 0: only what is offered now).
int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, Stop_signal* stop = nullptr);

} // namespace tarn1::statewarden_ctl
