// kelmar-host's command line, and its restore sessions against a scripted vendor library: which answers it refuses.
#include <cstdio>
#include <mutex>

#include "host/operations.h"
#include "testbed/testbed.h"

namespace {

using namespace kelmar::testbed;
using namespace kelmar::host;

constexpr std::size_t kRecordBytes = 344;

// Fields at their places, every other byte zero; the last value given counts, without a longer earlier one's tail.
TEST(CommandLine, BuildsTheOptionsRecordAsDb2PassesIt) {
  constexpr std::size_t kVmNameAt = 95;
  constexpr std::size_t kDbInstanceNameAt = 305;
  const std::string longest_vm_name(17, 'x');
  const std::string vm_name = "Instance002";
  const std::string db_instance_name(38, 'd');  // its room but the terminator, at the record's end
  const ParsedCommandLine parsed = ParseCommandLine({"--library=l", "query-logs", "--record=vmName=" + longest_vm_name,
                                                     "--record=vmName=" + vm_name,
                                                     "--record=dbInstanceName=" + db_instance_name});
  std::string expected(kRecordBytes, '\0');
  expected.replace(kVmNameAt, vm_name.size(), vm_name);
  expected.replace(kDbInstanceNameAt, db_instance_name.size(), db_instance_name);
  const std::vector<char>& record = parsed.command.options.bytes;
  EXPECT_EQ(std::string(record.begin(), record.end()), expected);
  EXPECT_EQ(parsed.command.options.size, kRecordBytes);
}

// Refusals name their reason; only a real date and time names an image.
TEST(CommandLine, RefusesWithTheReason) {
  struct Case { Names args; std::string refusal; };  // no refusal: the command runs
  std::vector<Case> cases = {
      {.args = {"restore", "--output=o", "--timestamp", "20240229235959"}, .refusal = ""},
      {.args = {"restore", "--output=o", "--timestamp", "20000229000000"}, .refusal = ""},
      {.args = {"restore", "--output", "o", "--timestamp", "2026"}, .refusal = "restore needs a --timestamp of 14"},
      {.args = {"backup", "--input", "x", "--sessions", "257"}, .refusal = "--sessions must be a number from 1"},
      {.args = {"query-logs", "--record", "vmName=Instance0000000001"}, .refusal = "field vmName must be at most 17"},
  };
  for (const char* timestamp : {"20261305141541", "20230229120000", "21000229120000", "20261131120000",
                                "20261205240000", "20261205146000", "20261205141560", "00001205141541"}) {
    cases.push_back({.args = {"restore", "--output", "o", "--timestamp", timestamp},
                     .refusal = "--timestamp must be up to 14 digits"});
  }
  for (Case& row : cases) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    row.args.insert(row.args.begin(), {"--library", "l"});
    const ParsedCommandLine parsed = ParseCommandLine(row.args);
    using Outcome = ParsedCommandLine::Outcome;
    EXPECT_EQ(parsed.outcome, row.refusal.empty() ? Outcome::kRun : Outcome::kError);
    EXPECT_NE(parsed.error.find(row.refusal), std::string::npos) << parsed.error;
  }
}

constexpr int kSessions = 3;
constexpr int kPartAfterLast = 4;
constexpr sqlint32 kSensible = -100;  // session 1's second sqluvget answers as the image has it

struct Case {
  const char* name;
  sqlint32 answer, bytes = 0, part_4 = SQLUV_OBJ_NOT_FOUND;  // session 1's second sqluvget, part 4's sqluvint
  Names ends;  // sorted
  std::string failure = "";
};

// The vendor library scripted by the case; the handle is the session's sequence number.
std::mutex ends_mutex;
Names session_ends;
const Case* scripted = nullptr;
int session_1_gets = 0;
int SequenceOf(void* handle) { return static_cast<int>(reinterpret_cast<std::intptr_t>(handle)); }

// Session k hands out part k of the image in buffers: 700 bytes, none, 1500 bytes.
constexpr std::size_t kPart1Bytes = 700;
const std::string kImage = PatternBytes(2200, 5);
std::string_view unsent[kSessions] = {std::string_view(kImage).substr(0, kPart1Bytes), "",
                                      std::string_view(kImage).substr(kPart1Bytes)};
sqlint32 PartOfImage(int sequence, Data* data) {
  std::string_view& part = unsent[sequence - 1];
  data->actual_buff_size = static_cast<sqlint32>(part.copy(static_cast<char*>(data->dataptr), data->buff_size));
  part.remove_prefix(data->actual_buff_size);
  if (data->actual_buff_size == 0) return SQLUV_ENDOFMEDIA_NO_DATA;
  return part.empty() ? SQLUV_ENDOFMEDIA : SQLUV_OK;
}

const VendorCalls kScripted = {
    .sqluvint = [](Init_input* in, Init_output* out, Return_code* rc) {
      const int sequence = std::atoi(in->DB2_session->sequence);
      out->pVendorCB = reinterpret_cast<void*>(std::intptr_t{sequence});
      rc->return_code = sequence == kPartAfterLast ? scripted->part_4 : SQLUV_OK;
      std::snprintf(rc->description, sizeof rc->description, "disk gone");  // read only on a failure
      return rc->return_code;
    },
    .sqluvget = [](void* cb, Data* data, Return_code* rc) {
      const int sequence = SequenceOf(cb);
      if (sequence != 1 || ++session_1_gets != 2 || scripted->answer == kSensible) return PartOfImage(sequence, data);
      data->actual_buff_size = scripted->bytes;
      if (scripted->answer >= 0) rc->return_code = scripted->answer;  // -1 leaves the return code unset
      return scripted->answer;
    },
    .sqluvend = [](sqlint32 action, void* cb, Init_output*, Return_code*) {
      const std::lock_guard lock(ends_mutex);
      session_ends.push_back((action == SQLUV_COMMIT ? "COMMIT " : "ABORT ") + std::to_string(SequenceOf(cb)));
      return sqlint32{SQLUV_OK};
    },
};

// The part after the last is asked for only once every session is committed, and ended if it opens.
TEST(HostSessions, RestorePublishesOnlyAWholeImage) {
  const Names kCommitted = {"COMMIT 1", "COMMIT 2", "COMMIT 3"};
  const Names kAborted = {"ABORT 1", "ABORT 2", "ABORT 3"};
  const std::string kGet = "session 1: sqluvget returned ";
  const std::string kOf = " bytes in a buffer of 500";
  const Case cases[] = {
      {.name = "a whole image: no part 4", .answer = kSensible, .ends = kCommitted},
      {.name = "OK without data", .answer = SQLUV_OK, .ends = kAborted, .failure = kGet + "SQLUV_OK (0) with 0" + kOf},
      {.name = "more than the buffer", .answer = SQLUV_MORE_DATA, .bytes = 501, .ends = kAborted,
       .failure = kGet + "SQLUV_MORE_DATA (21) with 501" + kOf},
      {.name = "a failure without its return code", .answer = -1, .ends = kAborted,
       .failure = kGet + "-1, return code not set"},
      {.name = "part 4 exists: a restore on fewer sessions than its backup had", .answer = kSensible,
       .part_4 = SQLUV_OK, .ends = {"ABORT 4", "COMMIT 1", "COMMIT 2", "COMMIT 3"},
       .failure = "the image has more parts than this restore's 3 sessions (part 4 exists): restore it with as many "
                  "sessions as its backup had"},
      {.name = "part 4 cannot be asked for", .answer = kSensible, .part_4 = SQLUV_IO_ERROR, .ends = kCommitted,
       .failure = "asking for part 4 of the image: sqluvint returned SQLUV_IO_ERROR (25): \"disk gone\""},
  };
  const Names restore = {"--library=l", "restore", "--output=/tmp/out/restored", "--buffer-size=500",
                         "--timestamp=20261205141541", "--sessions", std::to_string(kSessions)};
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    RunIsolated([&] {
      scripted = &row;
      MakeDirs("/tmp/out");
      EXPECT_EQ(RunOperation(kScripted, ParseCommandLine(restore).command).failure, row.failure);
      const bool whole = row.failure.empty();
      EXPECT_EQ(Listing("/tmp/out"), whole ? Names{"restored"} : Names{}) << "no leftovers";
      EXPECT_EQ(ReadFile("/tmp/out/restored") == kImage, whole) << "the image, whole, or nothing";
      std::ranges::sort(session_ends);
      EXPECT_EQ(session_ends, row.ends) << "every session ended, and ended alike";
    });
  }
}

}  // namespace
