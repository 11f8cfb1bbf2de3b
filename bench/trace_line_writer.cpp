// Writes trace lines for bench/run to count their system calls with strace:
// in a private /tmp with the trace on, COUNT lines between two getppid()
// calls that mark where the lines begin and end. One line before the first
// mark takes what the process does once (loading the time zone).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "log/trace_log.h"
#include "testbed/isolation.h"
#include "testbed/trace_reader.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trace_line_writer COUNT\n");
    return 2;
  }
  const std::string reason = kelmar::testbed::MakePrivateTmp();
  if (!reason.empty()) {
    std::fprintf(stderr, "no private /tmp: %s\n", reason.c_str());
    return 1;
  }
  kelmar::testbed::EnableTrace();
  const int count = std::atoi(argv[1]);

  const auto write_line = [] { SqluvErrorLog("sqluvput()", "sqluv_handle is:%p, f_sqluvput is %p", nullptr, nullptr); };
  write_line();
  getppid();
  for (int i = 0; i < count; ++i) write_line();
  getppid();

  const auto written = kelmar::testbed::TraceLines().size();
  if (written != static_cast<std::size_t>(count) + 1) {
    std::fprintf(stderr, "wrote %zu lines, not %d\n", written, count + 1);
    return 1;
  }
  return 0;
}
