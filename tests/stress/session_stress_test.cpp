// Sessions on many threads while an operator toggles the markers and the trace: the backend is never unloaded in use.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "log/switch_files.h"
#include "stress/stress_backend.h"
#include "testbed/testbed.h"

namespace {

using namespace kelmar::testbed;

constexpr unsigned kThreads = 8;
constexpr unsigned kRounds = 100;
constexpr int kSessionsPerRound = 6;
constexpr int kAnswers = 100000;  // from 0 up: never the library's own -1
constexpr int kOneIn = 4;         // how rare deletes, failures and aborts are
constexpr unsigned kPauseMicroseconds = 501;
constexpr unsigned kSeed = 20261206;

bool Rarely(std::mt19937& random) { return std::uniform_int_distribution<int>(1, kOneIn)(random) == 1; }

// A thread's sessions as DB2 drives them: each call expects the answer its records script; deletes and starts may fail.
void RunSessions(unsigned seed) {
  std::mt19937 random(seed);
  for (int each = 0; each < kSessionsPerRound; ++each) {
    Db2Session session;
    const sqlint32 scripted = Rarely(random) ? SQLUV_DEV_ERROR : SQLUV_OK;
    session.in.size_LOW_order = static_cast<sqluint32>(scripted);
    if (Rarely(random)) {
      EXPECT_EQ(session.Delete(), scripted);
      continue;
    }
    ASSERT_EQ(session.Start(), scripted);
    if (scripted != SQLUV_OK) continue;
    const auto answer = std::uniform_int_distribution<sqlint32>(0, kAnswers)(random);
    Data data{};
    data.obj_num = answer;
    EXPECT_EQ(sqluvput(session.out.pVendorCB, &data, &session.rc), answer);
    const sqlint32 how = Rarely(random) ? SQLUV_ABORT : SQLUV_COMMIT;
    EXPECT_EQ(session.End(how), how + kelmar::stress::kEndResultBase);
  }
}

// The keep-loaded marker is only created: the check that honours it deletes it.
constexpr const char* kCreated[] = {kelmar::kUnloadMarker, kelmar::kKeepLoadedMarker, kelmar::kTraceLogPath};
constexpr const char* kDeleted[] = {kelmar::kUnloadMarker, kelmar::kTraceLogPath};

void Meddle(const std::stop_token& stop) {
  std::mt19937 random(kSeed);
  while (!stop.stop_requested()) {
    close(open(kCreated[random() % std::size(kCreated)], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    usleep(random() % kPauseMicroseconds);
    unlink(kDeleted[random() % std::size(kDeleted)]);
    usleep(random() % kPauseMicroseconds);
  }
}

TEST(SessionStress, EverySessionGetsItsBackendWhileMarkersAndTraceComeAndGo) {
  RunIsolated([] {
    InstallBackend(KELMAR_STRESS_BACKEND);
    {
      const std::jthread operator_thread(Meddle);  // stops after the sessions' threads end
      // A round's threads end before the next round's begin: a present unload marker gets its chance at a sqluvint.
      for (unsigned round = 0; round < kRounds; ++round) {
        std::vector<std::jthread> threads;
        for (unsigned thread = 0; thread < kThreads; ++thread) {
          threads.emplace_back(RunSessions, kSeed + round * kThreads + thread);
        }
      }
    }
    const std::string events = ReadFile(kelmar::stress::kEventsFile);
    const auto loads = std::ranges::count(events, kelmar::stress::kLoadEvent);
    const auto unloads = std::ranges::count(events, kelmar::stress::kUnloadEvent);
    EXPECT_GE(unloads, 1) << "the markers never made the library unload the backend: " << events;
    EXPECT_EQ(loads - unloads, sqluv_handle != nullptr ? 1 : 0) << events;
  });
}

}  // namespace
