// kelmar-host's command line, and its restore sessions against a scripted vendor library: how a failure ends them
// all and which answers it refuses.
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>

#include "host/operations.h"
#include "testbed/testbed.h"
#include "kelmar/vendor_options_record.h"

namespace {

using namespace kelmar::testbed;

using namespace kelmar::host;
using kelmar::testbed::RunIsolated;

HostCommand Command(const Names& args) { return ParseCommandLine(args).command; }  // a refused one fails the case

// The record as Vorlan's user interface passes it: each field terminated inside its room at its place, every
// other byte zero; refusals with their reason; only a real date and time names an image.
TEST(CommandLine, BuildsTheOptionsRecordAsDb2PassesItOrRefusesWithTheReason) {
  const std::pair<const char*, std::string> fields_in_record_order[] = {
      {"instanceName", "12345678"}, {"version", "v"}, {"build", "b"}, {"vendorId", std::string(23, 'i')},
      {"vmName", "Instance002"}, {"jmToken", std::string(63, 't')}, {"serverId", std::string(127, 's')},
      {"dbInstanceName", std::string(38, 'd')}};
  // The last value given counts, without the tail of a longer earlier one.
  Names args = {"--library=l", "query-logs", "--record=vmName=" + std::string(17, 'x')};
  std::string expected(344, '\0');
  for (std::size_t i = 0; i < std::size(fields_in_record_order); ++i) {
    const auto& [name, value] = fields_in_record_order[i];
    args.insert(args.end(), {"--record", std::string(name) + "=" + value});
    expected.replace(kelmar::kVendorOptionsFields[i].offset, value.size(), value);
  }
  const auto record = Command(args).options;
  EXPECT_EQ(std::string(record.bytes.begin(), record.bytes.end()), expected);
  EXPECT_EQ(record.size, 344u);
  std::vector<std::pair<Names, std::string>> cases = {
      {{"restore", "--output=o", "--timestamp", "20240229235959"}, ""},
      {{"restore", "--output=o", "--timestamp", "20000229000000"}, ""},
      {{"backup"}, "backup needs --input FILE"},
      {{"restore", "--output", "o", "--timestamp", "2026"}, "restore needs a --timestamp of 14"},
      {{"backup", "--input", "x", "--sessions", "257"}, "--sessions must be a number from 1"},
      {{"query-logs", "--record", "vmName"}, "--record needs FIELD=VALUE"},
      {{"query-logs", "--record", "colour=red"}, "unknown options record field \"colour\""},
      {{"query-logs", "--record", "vmName=Instance0000000001"}, "field vmName must be at most 17 characters"},
      {{"query-logs", "--options", std::string(65536, 'x')}, "longer than DB2's limit of 65535"},
  };
  for (const char* timestamp : {"20261305141541", "20230229120000", "21000229120000", "20261131120000",
                                "20261205240000", "20261205146000", "20261205141560", "00001205141541"}) {
    cases.push_back({{"restore", "--output", "o", "--timestamp", timestamp}, "--timestamp must be up to 14 digits"});
  }
  for (auto [args, error] : cases) {
    args.insert(args.begin(), {"--library", "l"});
    const ParsedCommandLine parsed = ParseCommandLine(args);
    EXPECT_EQ(parsed.outcome, error.empty() ? ParsedCommandLine::Outcome::kRun : ParsedCommandLine::Outcome::kError);
    EXPECT_NE(parsed.error.find(error), std::string::npos) << error << " not in: " << parsed.error;
  }
}

// A vendor library scripted by each case; the handle is the session's sequence number. Part 4 of the image
// answers `part_4`, with "disk gone" in its return code.
struct Script {
  std::mutex mutex;
  Names calls;  // sqluvint and sqluvend
  sqlint32 part_4 = SQLUV_OK;
  std::function<sqlint32(int sequence, Data*, Return_code*)> get;
} script;

int SequenceOf(void* handle) { return static_cast<int>(reinterpret_cast<std::intptr_t>(handle)); }
void Record(const std::string& call) { const std::lock_guard lock(script.mutex); script.calls.push_back(call); }

const VendorCalls kScripted = {
    [](Init_input* in, Init_output* out, Return_code* rc) {
      const int sequence = std::atoi(in->DB2_session->sequence);
      Record(std::string("sqluvint ") + in->DB2_session->action + " " + std::to_string(sequence));
      out->pVendorCB = reinterpret_cast<void*>(std::intptr_t{sequence});
      if (sequence != 4) return sqlint32{SQLUV_OK};
      rc->return_code = script.part_4;
      std::snprintf(rc->description, sizeof rc->description, "disk gone");
      return script.part_4;
    },
    [](void* cb, Data* data, Return_code* rc) { return script.get(SequenceOf(cb), data, rc); },
    nullptr,
    [](sqlint32 action, void* cb, Init_output*, Return_code*) {
      Record((action == SQLUV_COMMIT ? "sqluvend COMMIT " : "sqluvend ABORT ") + std::to_string(SequenceOf(cb)));
      return sqlint32{SQLUV_OK};
    },
    nullptr,
    [](void*, db2VendorQueryInfo*, Return_code*) { return sqlint32{SQLUV_NO_DATA}; },
};

Names Sorted(Names names) { std::sort(names.begin(), names.end()); return names; }

// Session k hands out part k of the image in buffers: 700 bytes, none, 1500 bytes.
sqlint32 PartOfImage(int sequence, Data* data, Return_code*) {
  static const std::string image = PatternBytes(2200, 5);
  static std::size_t next[] = {0, 700, 700}, end[] = {700, 700, 2200};
  std::size_t& at = next[sequence - 1];
  const std::size_t n = std::min<std::size_t>(data->buff_size, end[sequence - 1] - at);
  std::memcpy(data->dataptr, image.data() + at, n);
  at += n;
  data->actual_buff_size = static_cast<sqlint32>(n);
  return n == 0 ? SQLUV_ENDOFMEDIA_NO_DATA : at < end[sequence - 1] ? SQLUV_OK : SQLUV_ENDOFMEDIA;
}

// Only a whole image is published: its parts joined in order, from sensible answers, with no part after the last.
TEST(HostSessions, RestorePublishesOnlyAWholeImage) {
  constexpr sqlint32 kSensible = -100;
  // Session 1's second sqluvget answer and the bytes it claims; sqluvint's answer for part 4; the failure.
  struct Case { sqlint32 second, bytes, part_4; std::string failure; };
  const Case cases[] = {
      {kSensible, 0, SQLUV_OBJ_NOT_FOUND, ""},
      {SQLUV_OK, 0, 0, "session 1: sqluvget returned SQLUV_OK (0) with 0 bytes in a buffer of 500"},
      {SQLUV_MORE_DATA, 501, 0, "session 1: sqluvget returned SQLUV_MORE_DATA (21) with 501 bytes in a buffer of 500"},
      {SQLUV_ENDOFMEDIA, -1, 0, "session 1: sqluvget returned SQLUV_ENDOFMEDIA (23) with -1 bytes in a buffer of 500"},
      {-1, 10, 0, "session 1: sqluvget returned -1, return code not set"},
      {kSensible, 0, SQLUV_OK, "the image has more parts than this restore's 3 sessions (part 4 exists): restore "
                               "it with as many sessions as its backup had"},
      {kSensible, 0, SQLUV_IO_ERROR,
       "asking for part 4 of the image: sqluvint returned SQLUV_IO_ERROR (25): \"disk gone\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failure);
    RunIsolated([&] {
      script.part_4 = c.part_4;
      script.get = [&, calls = 0](int sequence, Data* data, Return_code* rc) mutable {
        if (sequence != 1 || calls++ == 0 || c.second == kSensible) return PartOfImage(sequence, data, rc);
        data->actual_buff_size = c.bytes;
        if (c.second >= 0) rc->return_code = c.second;
        return c.second;
      };
      kelmar::testbed::MakeDirs("/tmp/out");
      const OperationReport report = RunOperation(
          kScripted, Command({"--library", "l", "restore", "--output", "/tmp/out/restored", "--sessions", "3",
                              "--timestamp", "20261205141541", "--buffer-size", "500"}));
      EXPECT_EQ(report.failure, c.failure);
      EXPECT_EQ(Listing("/tmp/out"), c.failure.empty() ? Names{"restored"} : Names{}) << "no leftovers";
      EXPECT_EQ(ReadFile("/tmp/out/restored") == PatternBytes(2200, 5), c.failure.empty());
      // Part 4 is asked for only once every session is committed, and ended if it opens.
      ASSERT_GE(script.calls.size(), 6u);
      const std::string end = c.second == kSensible ? "sqluvend COMMIT " : "sqluvend ABORT ";
      const Names ends(script.calls.begin() + 3, script.calls.begin() + 6);
      EXPECT_EQ(Sorted(ends), (Names{end + "1", end + "2", end + "3"}));
      Names after;
      if (c.second == kSensible) after.push_back("sqluvint R 4");
      if (c.second == kSensible && c.part_4 == SQLUV_OK) after.push_back("sqluvend ABORT 4");
      EXPECT_EQ(Names(script.calls.begin() + 6, script.calls.end()), after);
    });
  }
}

}  // namespace
