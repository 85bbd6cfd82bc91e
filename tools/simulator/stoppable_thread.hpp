#pragma once

#include <functional>
#include <string>
#include <thread>

namespace tarn1::simulator
{

/// A thread that waits on descriptors until it is asked to end: the descriptor its body is given
/// becomes readable once stop() is called, so the body polls it beside its own and returns.
class Stoppable_thread final
{
  public:
    Stoppable_thread() = default;
    ~Stoppable_thread();

    Stoppable_thread(const Stoppable_thread&) = delete;
    Stoppable_thread& operator=(const Stoppable_thread&) = delete;

    /// Runs body(stop_fd) on a thread of its own. Runner thread.
    bool start(std::function<void(int stop_fd)> body, std::string& error);
    /// Makes stop_fd readable and waits for the body to return; safe to call again. Runner thread.
    void stop();

  private:
    int m_stop_pipe[2]{-1, -1};
    std::thread m_thread;
};

} // namespace tarn1::simulator
