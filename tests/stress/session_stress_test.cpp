// Many DB2 sessions on threads of one process while an operator keeps creating and deleting the markers and the
// trace file: every call gets the backend's own answer, and the backend is never unloaded while in use.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <barrier>
#include <fstream>
#include <random>
#include <thread>

#include "backends/session_fixture.h"
#include "log/switch_files.h"
#include "stress/stress_backend.h"

namespace {

namespace tb = kelmar::test_backend;
constexpr int kThreads = 8, kRounds = 100, kSessionsPerRound = 6;
constexpr unsigned kSeed = 20261206;

// One session as DB2 drives it, each call expecting the answer scripted into its records.
void RunSession(std::mt19937& random) {
  const auto pick = [&](int choices) { return std::uniform_int_distribution<int>(0, choices - 1)(random); };
  const int kind = pick(4);  // put, get, query or delete
  tb::Db2Session s(kind == 3 ? "MOB"[pick(3)] : "WRI"[kind]);
  const sqlint32 scripted = pick(kind == 3 ? 4 : 8) == 0 ? (kind == 3 ? SQLUV_DELETE_FAILED : SQLUV_INIT_FAILED) : 0;
  s.in.size_LOW_order = static_cast<sqluint32>(scripted);
  EXPECT_EQ(kind == 3 ? sqluvdel(&s.in, &s.out, &s.rc) : tb::StartSession(s), scripted);
  if (kind == 3 || scripted != SQLUV_OK) return;
  for (int i = pick(6); i >= 0; --i) {
    Data data{};
    data.obj_num = pick(100000);  // never the library's own -1
    db2VendorQueryInfo query{};
    query.sizeEstimate = static_cast<std::uint64_t>(data.obj_num);
    EXPECT_EQ(kind == 0   ? sqluvput(s.out.pVendorCB, &data, &s.rc)
              : kind == 1 ? sqluvget(s.out.pVendorCB, &data, &s.rc)
                          : db2VendorGetNextObj(s.out.pVendorCB, &query, &s.rc), data.obj_num);
  }
  const sqlint32 action = pick(4) == 0 ? SQLUV_ABORT : SQLUV_COMMIT;
  EXPECT_EQ(sqluvend(action, s.out.pVendorCB, &s.out, &s.rc), action + kelmar::stress::kEndResultBase);
}

// The operator. The keep-loaded marker is only created: the check that honours it deletes it.
void Meddle(const std::stop_token& stop) {
  const std::pair<bool, const char*> changes[] = {{true, kelmar::kUnloadMarker}, {false, kelmar::kUnloadMarker},
                                                  {true, kelmar::kKeepLoadedMarker}, {true, kelmar::kTraceLogPath},
                                                  {false, kelmar::kTraceLogPath}};
  for (std::mt19937 random(kSeed); !stop.stop_requested(); usleep(random() % 501)) {
    const auto& [create, path] = changes[random() % std::size(changes)];
    create ? close(open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)) : unlink(path);
  }
}

TEST(SessionStress, EverySessionGetsItsBackendWhileMarkersAndTraceComeAndGo) {
  tb::RunIsolated([] {
    tb::InstallBackend(KELMAR_STRESS_BACKEND);
    {
      const std::jthread operator_thread(Meddle);  // stops after the sessions' threads end
      // Between rounds every session is over, so a present unload marker gets its chance at the next sqluvint.
      std::barrier round_end(kThreads);
      std::vector<std::jthread> threads;
      for (unsigned t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &round_end] {
          std::mt19937 random(kSeed + t);
          for (int round = 0; round < kRounds; ++round, round_end.arrive_and_wait()) {
            for (int i = 0; i < kSessionsPerRound; ++i) RunSession(random);
          }
        });
      }
    }
    std::ifstream file(kelmar::stress::kEventsFile);
    const std::string events{std::istreambuf_iterator<char>(file), {}};
    const auto loads = std::ranges::count(events, 'l'), unloads = std::ranges::count(events, 'u');
    EXPECT_GE(unloads, 1) << "the markers never made the library unload the backend: " << events;
    EXPECT_EQ(loads - unloads, sqluv_handle != nullptr ? 1 : 0) << events;
    for (const std::string& line : tb::RawTraceLines()) {  // whole lines, though many threads wrote at once
      EXPECT_TRUE(line.empty() || tb::HasTracePrefix(line, getpid())) << line;
    }
  });
}

}  // namespace
