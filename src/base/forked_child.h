// Code that must run in every child this process forks, in the thread that
// forked, before fork returns there.
#pragma once

namespace kelmar {

// Registers `handler` for every later fork of the process; it is never taken
// back. Nothing is registered when the code that holds `handler` cannot be
// kept mapped for the life of the process.
void RunInEveryForkedChild(void (*handler)());

}  // namespace kelmar
