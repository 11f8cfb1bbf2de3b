#include "front/session_prep.h"

#include <unistd.h>

#include <array>

#include "log/markers.h"
#include "log/switch_files.h"
#include "log/trace_log.h"

namespace {

// Caller actions by letter, 'A' to 'W'; letters without an action stay null.
constexpr char kFirstActionLetter = 'A';
constexpr char kLastActionLetter = 'W';

constexpr auto kActionNames = [] {
  std::array<const char*, kLastActionLetter - kFirstActionLetter + 1> names{};
  const auto set = [&](char letter, const char* name) { names[static_cast<std::size_t>(letter - kFirstActionLetter)] = name; };
  set('W', "SQLUV_WRITE");
  set('R', "SQLUV_READ");
  set('A', "SQLUV_ARCHIVE");
  set('T', "SQLUV_RETRIEVE");
  set('I', "SQLUV_QUERY_IMAGES");
  set('L', "SQLUV_QUERY_LOGS");
  set('M', "SQLUV_DELETE_IMAGES");
  set('O', "SQLUV_DELETE_LOGS");
  set('B', "SQLUV_DELETE_ALL");
  return names;
}();

}  // namespace

const char* opType(const char* action) {
  if (action == nullptr) return nullptr;
  const char letter = action[0];
  if (letter < kFirstActionLetter || letter > kLastActionLetter) return nullptr;
  return kActionNames[static_cast<std::size_t>(letter - kFirstActionLetter)];
}

void LogCallerAction(const char* tag, const Init_input* in) {
  const char* action = nullptr;
  if (in != nullptr && in->DB2_session != nullptr) action = in->DB2_session->action;
  const char* name = opType(action);
  // The formatter is never handed a null text.
  SqluvErrorLog(tag, "...opType: %s", name != nullptr ? name : "(null)");
}

void HoldWhileDebugMarker(const char* tag) {
  SqluvErrorLog(tag, "-----------Will wait if /tmp/debugDB2 exists --------");
  while (kelmar::ExamineMarker(tag, kelmar::kDebugHoldMarker) == kelmar::MarkerState::kHonoured) {
    sleep(kelmar::kDebugHoldPollSeconds);
  }
}
