// statewarden_ctl: asks the running Statewarden who keeps the machine awake and what its state
// changes did, through its status service. See docs/statewarden.md.

#include "tools/statewarden_ctl/statewarden_ctl.hpp"

#include <climits>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <pthread.h>
#include <thread>

int main(int argc, char** argv)
{
    // The middleware takes only entries whose sockets lie in the folder as named, so a link to the
    // folder (the simulator's /tmp/tarn1_sim_com) is followed first. Nothing runs in another thread yet.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    if (const char* folder = std::getenv("TARN1_COM_DIR"))
    {
        char resolved[PATH_MAX];
        if (::realpath(folder, resolved) != nullptr)
        {
            // NOLINTNEXTLINE(concurrency-mt-unsafe)
            ::setenv("TARN1_COM_DIR", resolved, 1);
        }
    }

    // SIGINT and SIGTERM end a watch in order: every thread (the middleware's too, started later)
    // keeps them blocked, and one thread waits for them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    tarn1::statewarden_ctl::Stop_signal stop;
    std::thread watcher(
        [&signals, &stop]
        {
            int received = 0;
            sigwait(&signals, &received);
            stop.stop();
        });
    watcher.detach();

    return tarn1::statewarden_ctl::run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, &stop);
}
