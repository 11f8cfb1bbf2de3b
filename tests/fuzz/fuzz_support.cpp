#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "log/trace_log.h"
#include "testbed/isolation.h"

namespace kelmar::fuzz {

namespace {

void PrepareProcess() {
  const std::string reason = testbed::MakePrivateTmp();
  if (!reason.empty()) {
    // Skipped, not failed: run_fuzzer.sh's test takes this status for a skip.
    std::fprintf(stderr, "no private /tmp for fuzzing, skipped: %s\n", reason.c_str());
    std::exit(testbed::kNoPrivateTmpExit);
  }
  // The trace is on, and its lines go nowhere.
  if (symlink("/dev/null", kTraceLogPath) != 0) {
    std::perror("symlink /dev/null as the trace file");
    std::abort();
  }
}

}  // namespace
}  // namespace kelmar::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kelmar::fuzz::PrepareProcess();
  return 0;
}
