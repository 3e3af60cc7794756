#include "cli/Interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "operations/Operation.h"

namespace Interrupt {
namespace {

std::atomic<int> s_signal{0};

// Guards the watched operation: it is never stopped while the walk lets go
// of it.
struct Watched {
    std::mutex lock;
    COperation* operation = nullptr;
};

Watched& State()
{
    // Never destroyed: the waiting thread may still use it while the
    // process ends.
    static Watched* watched = new Watched;
    return *watched;
}

sigset_t Signals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

void WaitForSignals()
{
    const sigset_t set = Signals();
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0)
            continue;
        int none = 0;
        if (!s_signal.compare_exchange_strong(none, sig)) {
            // The second one: no waiting any more.
            _exit(128 + sig);
        }
        Watched& w = State();
        std::lock_guard<std::mutex> guard(w.lock);
        if (w.operation)
            w.operation->Interrupt();
    }
}

}  // namespace

void Install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const sigset_t set = Signals();
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        std::thread(WaitForSignals).detach();
    });
}

int Signal()
{
    return s_signal.load();
}

int ExitCode()
{
    return 128 + Signal();
}

std::string Text()
{
    return Signal() == SIGTERM ? "Interrupted by SIGTERM." : "Interrupted by SIGINT.";
}

void Watch(COperation* operation)
{
    Watched& w = State();
    std::lock_guard<std::mutex> guard(w.lock);
    w.operation = operation;
    if (operation && Signal() != 0)
        operation->Interrupt();
}

}  // namespace Interrupt
