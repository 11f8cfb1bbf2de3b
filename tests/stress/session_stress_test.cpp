// Many DB2 sessions on threads of one process (backups, restores, history queries, deletes) while an operator
// keeps creating and deleting the markers and the trace file. Every call must get the backend's own answer; the
// stress backend aborts the process if it is ever unloaded under a call or an open session.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <fstream>
#include <random>
#include <thread>

#include "backends/session_fixture.h"
#include "front/unload_markers.h"
#include "log/trace_log.h"
#include "stress/stress_backend.h"

namespace {

namespace tb = kelmar::test_backend;
constexpr int kThreads = 8, kRounds = 100, kSessionsPerRound = 6;
constexpr unsigned kSeed = 20261206;

// One thread's sessions as DB2 drives them; every answer other than the one scripted into the records is noted.
struct SessionThread {
  std::mt19937 random;
  std::vector<std::string> mismatches;

  int Pick(int choices) { return std::uniform_int_distribution<int>(0, choices - 1)(random); }
  void Expect(const char* call, sqlint32 got, sqlint32 expected) {
    if (got == expected) return;
    mismatches.push_back(std::string(call) + " returned " + std::to_string(got) + ", not " + std::to_string(expected));
  }
  void RunSession() {
    const int kind = Pick(4);  // put, get, query or delete
    tb::Db2Session s(kind == 3 ? "MOB"[Pick(3)] : "WRI"[kind]);
    const sqlint32 scripted = Pick(kind == 3 ? 4 : 8) == 0 ? (kind == 3 ? SQLUV_DELETE_FAILED : SQLUV_INIT_FAILED) : 0;
    s.in.size_LOW_order = static_cast<sqluint32>(scripted);
    if (kind == 3) return Expect("sqluvdel", sqluvdel(&s.in, &s.out, &s.rc), scripted);
    Expect("sqluvint", tb::StartSession(s), scripted);
    if (scripted != SQLUV_OK) return;
    for (int i = Pick(6); i >= 0; --i) {
      Data data{};  // any answer but the library's own -1
      data.obj_num = std::uniform_int_distribution<sqlint32>(-100000, 100000)(random);
      data.obj_num += data.obj_num == -1 ? 1 : 0;
      db2VendorQueryInfo query{};
      query.sizeEstimate = static_cast<std::uint32_t>(data.obj_num);
      void* const cb = s.out.pVendorCB;
      Expect("a data call", kind == 0   ? sqluvput(cb, &data, &s.rc)
                            : kind == 1 ? sqluvget(cb, &data, &s.rc)
                                        : db2VendorGetNextObj(cb, &query, &s.rc), data.obj_num);
    }
    const sqlint32 action = Pick(4) == 0 ? SQLUV_ABORT : SQLUV_COMMIT;
    Expect("sqluvend", sqluvend(action, s.out.pVendorCB, &s.out, &s.rc), action + kelmar::stress::kEndResultBase);
  }
};

// The operator. The keep-loaded marker is only created: the check that honours it deletes it.
void Meddle(const std::atomic<bool>& stop) {
  const std::pair<bool, const char*> changes[] = {{true, kelmar::kUnloadMarker}, {false, kelmar::kUnloadMarker},
                                                  {true, kelmar::kKeepLoadedMarker}, {true, kelmar::kTraceLogPath},
                                                  {false, kelmar::kTraceLogPath}};
  for (std::mt19937 random(kSeed); !stop.load(); usleep(random() % 501)) {
    const auto& [create, path] = changes[random() % std::size(changes)];
    create ? close(open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)) : unlink(path);
  }
}

TEST(SessionStress, EverySessionGetsItsBackendWhileMarkersAndTraceComeAndGo) {
  tb::RunIsolated([] {
    tb::InstallBackend(KELMAR_STRESS_BACKEND);
    std::vector<SessionThread> sessions;
    for (unsigned i = 0; i < kThreads; ++i) sessions.push_back({std::mt19937(kSeed + i), {}});
    std::atomic<bool> stop{false};
    std::thread operator_thread(Meddle, std::cref(stop));
    {
      // Between rounds every session is over, so a present unload marker gets its chance at the next sqluvint.
      std::barrier round_end(kThreads);
      std::vector<std::jthread> threads;
      for (SessionThread& thread : sessions) {
        threads.emplace_back([&thread, &round_end] {
          for (int round = 0; round < kRounds; ++round, round_end.arrive_and_wait()) {
            for (int i = 0; i < kSessionsPerRound; ++i) thread.RunSession();
          }
        });
      }
    }
    stop.store(true);
    operator_thread.join();
    for (const SessionThread& thread : sessions) EXPECT_EQ(thread.mismatches, std::vector<std::string>{});
    std::ifstream file(kelmar::stress::kEventsFile);
    const std::string events{std::istreambuf_iterator<char>(file), {}};
    const auto loads = std::ranges::count(events, 'l'), unloads = std::ranges::count(events, 'u');
    EXPECT_GE(unloads, 1) << "the markers never made the library unload the backend: " << events;
    EXPECT_EQ(loads - unloads, sqluv_handle != nullptr ? 1 : 0) << events;
    for (const std::string& line : tb::RawTraceLines()) {
      EXPECT_TRUE(line.empty() || tb::HasTracePrefix(line, getpid())) << line;
    }
  });
}

}  // namespace
