// main() of every benchmark: the benchmarks run with a private /tmp.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "testbed/isolation.h"

int main(int argc, char** argv) {
  const std::string reason = kelmar::testbed::MakePrivateTmp();
  if (!reason.empty()) {
    std::fprintf(stderr, "no private /tmp for the benchmarks: %s\n", reason.c_str());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
