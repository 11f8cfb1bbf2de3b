// What libkelmar.so adds to a DB2 call: sqluvput through the library against
// a direct call of the backend's sqluvputpp, with the trace off and on. The
// backend does nothing (null_backend.cpp), so the difference is the
// forwarding alone. With the trace off it should be the existence tests of
// the trace switch, one per line (BM_TraceSwitchTest) and little more.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "host/vendor_library.h"
#include "log/switch_files.h"
#include "testbed/installation.h"
#include "testbed/trace_reader.h"

namespace {

using kelmar::host::VendorCalls;

// An open session, both ways: through libkelmar.so and straight to the backend.
struct Sessions {
  VendorCalls forwarded;
  VendorCalls direct;
  void* forwarded_session = nullptr;
  void* direct_session = nullptr;
};

VendorCalls Load(const std::string& path, bool direct) {
  std::string error;
  const auto library = kelmar::host::LoadVendorLibrary(path, direct, error);
  if (!library) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::exit(1);
  }
  return library->calls;
}

void* Open(const VendorCalls& calls) {
  char action[] = "W";
  DB2_info info{};
  info.action = action;
  Init_input in{};
  in.DB2_session = &info;
  Init_output out{};
  Return_code rc{};
  if (calls.sqluvint(&in, &out, &rc) != SQLUV_OK) {
    std::fprintf(stderr, "sqluvint failed\n");
    std::exit(1);
  }
  return out.pVendorCB;
}

// Installed once per process, in the private /tmp the benchmarks run in.
const Sessions& OpenSessions() {
  static const Sessions sessions = [] {
    kelmar::testbed::Installation installation("/tmp/registry");
    installation.Instance("Instance001").Home("/tmp/vorlan").Backend(KELMAR_NULL_BACKEND).Selected();
    const std::string base = installation.BaseDir();
    Sessions opened;
    opened.forwarded = Load(KELMAR_SHARED_LIBRARY, false);
    opened.direct = Load(base + "/libXjKelmar.so", true);
    opened.forwarded_session = Open(opened.forwarded);
    opened.direct_session = Open(opened.direct);
    return opened;
  }();
  return sessions;
}

void Put(benchmark::State& state, sqluvput_fn put, void* session) {
  Data data{};
  Return_code rc{};
  for (auto _ : state) benchmark::DoNotOptimize(put(session, &data, &rc));
}

void BM_SqluvputDirect(benchmark::State& state) {
  const Sessions& sessions = OpenSessions();
  unlink(kelmar::kTraceLogPath);
  Put(state, sessions.direct.sqluvput, sessions.direct_session);
}
BENCHMARK(BM_SqluvputDirect);

void BM_SqluvputForwardedTraceOff(benchmark::State& state) {
  const Sessions& sessions = OpenSessions();
  unlink(kelmar::kTraceLogPath);
  Put(state, sessions.forwarded.sqluvput, sessions.forwarded_session);
}
BENCHMARK(BM_SqluvputForwardedTraceOff);

// Also counts the lines a forwarded call writes.
void BM_SqluvputForwardedTraceOn(benchmark::State& state) {
  const Sessions& sessions = OpenSessions();
  kelmar::testbed::EnableTrace();
  Put(state, sessions.forwarded.sqluvput, sessions.forwarded_session);
  state.counters["lines_per_call"] = static_cast<double>(kelmar::testbed::TraceLines().size()) /
                                     static_cast<double>(state.iterations());
  unlink(kelmar::kTraceLogPath);
}
BENCHMARK(BM_SqluvputForwardedTraceOn);

// The test by which every trace line finds the trace off.
void BM_TraceSwitchTest(benchmark::State& state) {
  unlink(kelmar::kTraceLogPath);
  for (auto _ : state) benchmark::DoNotOptimize(access(kelmar::kTraceLogPath, W_OK));
}
BENCHMARK(BM_TraceSwitchTest);

}  // namespace
