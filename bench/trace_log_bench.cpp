// The cost of a trace line on DB2's threads. Most of the time the trace file
// is absent, and every vendor call still logs several lines: that case is the
// library's hot path.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include "log/switch_files.h"
#include "log/trace_log.h"
#include "testbed/trace_reader.h"

namespace {

void BM_TraceLineWithoutFile(benchmark::State& state) {
  unlink(kelmar::kTraceLogPath);
  for (auto _ : state) SqluvErrorLog("sqluvput()", "sqluv_handle is:%p, f_sqluvput is %p", nullptr, nullptr);
}
BENCHMARK(BM_TraceLineWithoutFile);

void BM_TraceLineWritten(benchmark::State& state) {
  kelmar::testbed::EnableTrace();
  for (auto _ : state) SqluvErrorLog("sqluvput()", "sqluv_handle is:%p, f_sqluvput is %p", nullptr, nullptr);
  unlink(kelmar::kTraceLogPath);
}
BENCHMARK(BM_TraceLineWritten);

}  // namespace
