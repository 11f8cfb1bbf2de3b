// SIGINT and SIGTERM stop kelmar-host between buffers rather than at once:
// the handler only notes the signal, the sessions see it and fail, and what
// they wrote is aborted in the store or removed from the disk. A second
// signal, for a vendor call that does not return, ends the process at once.
#pragma once

namespace kelmar::host {

// Installs the handler for both signals, without restarting interrupted calls;
// one ignored from the start stays ignored.
void CatchInterruptions();

// The signal that asked to stop, or 0.
int InterruptingSignal();

// "SIGINT" or "SIGTERM".
const char* SignalName(int signal);

// Ends the process by `signal`, as if it had never been caught.
[[noreturn]] void EndBySignal(int signal);

}  // namespace kelmar::host
