// Added to a backend that does nothing else: waits or forks in its initialiser or finaliser (forking_backend.h).
#include "backends/forking_backend.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace fb = kelmar::forking_backend;

static bool Asked(std::string_view what) { return std::getenv(fb::kWhen) != nullptr && std::getenv(fb::kWhen) == what; }

static void WaitIfAsked(std::string_view what) {
  if (!Asked(what)) return;
  close(open(fb::kInside, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  while (access(fb::kRelease, F_OK) != 0) usleep(1000);
}

[[gnu::constructor]] static void Loaded() {
  WaitIfAsked(fb::kHoldLoad);
  if (Asked(fb::kForkInLoad) && fork() == 0) alarm(fb::kChildSeconds);  // both go on with the load
}
[[gnu::destructor]] static void Unloaded() { WaitIfAsked(fb::kHoldUnload); }
