#include "clisignals.h"

#include "convertcancel.h"

#include <atomic>
#include <csignal>

namespace {

std::atomic<ConvertCancelFlag*> cancelFlag{nullptr};
std::atomic<int> caughtSignal{0};

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free
                  && std::atomic<ConvertCancelFlag*>::is_always_lock_free,
              "the signal handler only touches lock-free atomics");

// Only stores into lock-free atomics: the flag's Cancel() is one such store.
extern "C" void OnCancelSignal(int signal)
{
    int none = 0;
    caughtSignal.compare_exchange_strong(none, signal);
    if (ConvertCancelFlag* flag = cancelFlag.load())
        flag->Cancel();
}

} // namespace

void CancelOnSignals(ConvertCancelFlag* flag)
{
    cancelFlag.store(flag);
    struct sigaction action = {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    // The first signal cancels; the handler is then reset, so a second one
    // takes the default action and ends the process.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int CancelSignal()
{
    return caughtSignal.load();
}
