#pragma once

#include "kest/com/static_thread_pool.h"

#include <functional>
#include <memory>

namespace kest::com
{

/// Runs its tasks on a thread pool one at a time, in posting order: tasks of one strand never
/// overlap, tasks of different strands run in parallel on the pool's workers.
class Strand
{
  public:
    explicit Strand(static_thread_pool& pool);
    /// Drops queued tasks and waits for a running one to end (unless called from that task).
    ~Strand();

    Strand(const Strand&) = delete;
    Strand& operator=(const Strand&) = delete;

    /// Queues a task; any thread. False (the task dropped) once the strand is closed.
    bool post(std::function<void()> task);
    /// True while the calling thread runs a task of this strand.
    bool running_in_this_thread() const;
    /// Drops queued tasks, refuses new ones and waits for a running task to end (unless called from it).
    void close();

    struct State;

  private:
    std::shared_ptr<State> m_state;
};

} // namespace kest::com
