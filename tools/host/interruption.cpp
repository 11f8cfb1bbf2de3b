#include "host/interruption.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <initializer_list>

namespace kelmar::host {
namespace {

volatile std::sig_atomic_t g_signal = 0;

// A second signal ends the process at once, for a call that never returns.
void Note(int signal) {
  if (g_signal != 0) {
    std::signal(signal, SIG_DFL);
    raise(signal);
  }
  g_signal = signal;
}

}  // namespace

void CatchInterruptions() {
  struct sigaction action {};
  action.sa_handler = Note;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM}) {
    // A signal ignored from the start, as for a shell's background job, stays ignored.
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
  }
}

int InterruptingSignal() { return g_signal; }

const char* SignalName(int signal) { return signal == SIGINT ? "SIGINT" : "SIGTERM"; }

void EndBySignal(int signal) {
  std::signal(signal, SIG_DFL);
  raise(signal);
  _exit(128 + signal);
}

}  // namespace kelmar::host
