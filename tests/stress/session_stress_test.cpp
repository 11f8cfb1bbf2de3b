// Many DB2 sessions on threads of one process (backups, restores, history
// queries and deletes) while an operator keeps creating and deleting the
// unload marker, the keep-loaded marker and the trace file. Every call must
// get the backend's own answer, and the backend must never be unloaded under
// a call or an open session: the stress backend aborts the process if it is.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "backends/session_fixture.h"
#include "front/unload_markers.h"
#include "kelmar/libkelmar.h"
#include "log/trace_log.h"
#include "stress/stress_backend.h"
#include "testbed/isolation.h"
#include "testbed/trace_reader.h"

namespace {

namespace tb = kelmar::test_backend;
namespace testbed = kelmar::testbed;
using kelmar::stress::kEndResultBase;

constexpr int kThreads = 8;
constexpr int kRounds = 100;
constexpr int kSessionsPerRound = 6;
constexpr unsigned kSeed = 20261206;

// One thread's sessions, one after another, as DB2 drives them. Every answer
// that is not the one scripted into the records is noted.
class SessionThread {
 public:
  explicit SessionThread(int index) : index_(index), random_(kSeed + static_cast<unsigned>(index)) {}

  void RunSession() {
    switch (Pick(4)) {
      case 0:
        return RunDataSession('W', [this](tb::Db2Session& s) { return Forward("sqluvput", s, sqluvput); });
      case 1:
        return RunDataSession('R', [this](tb::Db2Session& s) { return Forward("sqluvget", s, sqluvget); });
      case 2:
        return RunDataSession('I', [this](tb::Db2Session& s) {
          db2VendorQueryInfo query{};
          query.sizeEstimate = static_cast<std::uint32_t>(AnyResult());
          Expect("db2VendorGetNextObj", db2VendorGetNextObj(s.out.pVendorCB, &query, &s.rc),
                 static_cast<sqlint32>(query.sizeEstimate));
        });
      default: {
        tb::Db2Session session("MOB"[Pick(3)]);
        const sqlint32 scripted = Pick(4) == 0 ? SQLUV_DELETE_FAILED : SQLUV_OK;
        session.in.size_LOW_order = static_cast<sqluint32>(scripted);
        Expect("sqluvdel", sqluvdel(&session.in, &session.out, &session.rc), scripted);
      }
    }
  }

  const std::vector<std::string>& mismatches() const { return mismatches_; }

 private:
  int Pick(int choices) { return std::uniform_int_distribution<int>(0, choices - 1)(random_); }

  // Any answer but the library's own -1 and the backend's stale-session mark.
  sqlint32 AnyResult() {
    const sqlint32 value = std::uniform_int_distribution<sqlint32>(-100000, 100000)(random_);
    return value == -1 ? 0 : value;
  }

  void Expect(const char* call, sqlint32 got, sqlint32 expected) {
    if (got == expected) return;
    mismatches_.push_back("thread " + std::to_string(index_) + ": " + call + " returned " + std::to_string(got) +
                          ", the backend answered " + std::to_string(expected));
  }

  template <typename Function>
  void Forward(const char* name, tb::Db2Session& session, Function function) {
    Data data{};
    data.obj_num = AnyResult();
    Expect(name, function(session.out.pVendorCB, &data, &session.rc), data.obj_num);
  }

  // sqluvint, data calls, sqluvend; a session whose sqluvint fails ends there.
  template <typename DataCall>
  void RunDataSession(char action, DataCall data_call) {
    tb::Db2Session session(action);
    const sqlint32 opened = Pick(8) == 0 ? SQLUV_INIT_FAILED : SQLUV_OK;
    session.in.size_LOW_order = static_cast<sqluint32>(opened);
    Expect("sqluvint", tb::StartSession(session), opened);
    if (opened != SQLUV_OK) return;
    for (int i = Pick(6); i >= 0; --i) data_call(session);
    const sqlint32 end_action = Pick(4) == 0 ? SQLUV_ABORT : SQLUV_COMMIT;
    Expect("sqluvend", sqluvend(end_action, session.out.pVendorCB, &session.out, &session.rc),
           end_action + kEndResultBase);
  }

  int index_;
  std::mt19937 random_;
  std::vector<std::string> mismatches_;
};

void Create(const char* path) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd >= 0) close(fd);
}

// The operator: markers and the trace file appear and disappear at random.
// The keep-loaded marker is only ever created; the check that honours it
// deletes it.
struct Change {
  bool create;
  const char* path;
};
constexpr Change kChanges[] = {{true, kelmar::kUnloadMarker},     {false, kelmar::kUnloadMarker},
                               {true, kelmar::kKeepLoadedMarker}, {true, kelmar::kTraceLogPath},
                               {false, kelmar::kTraceLogPath}};

void Meddle(const std::atomic<bool>& stop) {
  std::mt19937 random(kSeed);
  while (!stop.load()) {
    const Change& change = kChanges[std::uniform_int_distribution<std::size_t>(0, std::size(kChanges) - 1)(random)];
    if (change.create) {
      Create(change.path);
    } else {
      unlink(change.path);
    }
    usleep(std::uniform_int_distribution<useconds_t>(0, 500)(random));
  }
}

std::string BackendEvents() {
  std::ifstream file(kelmar::stress::kEventsFile);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(SessionStress, EverySessionGetsItsBackendWhileMarkersAndTraceComeAndGo) {
  testbed::RunIsolated([] {
    tb::InstallBackend(KELMAR_STRESS_BACKEND);
    std::vector<SessionThread> sessions;
    for (int i = 0; i < kThreads; ++i) sessions.emplace_back(i);

    std::atomic<bool> stop{false};
    std::thread operator_thread(Meddle, std::cref(stop));
    {
      // Between rounds every session is over, so a present unload marker
      // gets its chance at the next sqluvint.
      std::barrier round_end(kThreads);
      std::vector<std::jthread> threads;
      for (SessionThread& thread : sessions) {
        threads.emplace_back([&thread, &round_end] {
          for (int round = 0; round < kRounds; ++round) {
            for (int i = 0; i < kSessionsPerRound; ++i) thread.RunSession();
            round_end.arrive_and_wait();
          }
        });
      }
    }
    stop.store(true);
    operator_thread.join();

    for (const SessionThread& thread : sessions) {
      EXPECT_EQ(thread.mismatches(), std::vector<std::string>{});
    }
    const std::string events = BackendEvents();
    const auto loads = std::count(events.begin(), events.end(), kelmar::stress::kLoadedEvent);
    const auto unloads = std::count(events.begin(), events.end(), kelmar::stress::kUnloadedEvent);
    EXPECT_GE(unloads, 1) << "the markers never made the library unload the backend: " << events;
    EXPECT_EQ(loads - unloads, sqluv_handle != nullptr ? 1 : 0) << events;
    for (const std::string& line : testbed::RawTraceLines()) {
      EXPECT_TRUE(line.empty() || testbed::HasTracePrefix(line, getpid())) << line;
    }
  });
}

}  // namespace
