// How kelmar-host runs sessions, checked against a scripted vendor library:
// what it passes, how it cuts and joins images, how it ends sessions, and
// how it treats results that DB2 would not accept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/operations.h"
#include "host_test_support.h"
#include "testbed/isolation.h"
#include "testbed/registry_tree.h"

namespace {

using kelmar::host::ExitStatus;
using kelmar::host::OperationReport;
using kelmar::host::RunOperation;
using kelmar::testbed::RunIsolated;
using kelmar::testing::Command;
using kelmar::testing::Exists;
using kelmar::testing::Listing;
using kelmar::testing::PatternBytes;
using kelmar::testing::ReadFile;
using kelmar::testing::ScratchDir;

// A vendor library scripted by each case. Sessions are told apart by their
// sequence number, which doubles as the handle.
struct ScriptedVendor {
  std::mutex mutex;
  std::vector<std::string> calls;
  std::map<int, std::string> stored;  // by sequence
  std::function<sqlint32(int sequence, Return_code*)> init = [](int, Return_code*) { return SQLUV_OK; };
  std::function<sqlint32(int sequence, Data*, Return_code*)> put = [](int, Data*, Return_code*) { return SQLUV_OK; };
  std::function<sqlint32(int sequence, Data*, Return_code*)> get;
  std::function<sqlint32(int sequence, Return_code*)> end = [](int, Return_code*) { return SQLUV_OK; };

  void Record(std::string call) {
    const std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
  }
};
ScriptedVendor* vendor = nullptr;

int SequenceOf(void* handle) { return static_cast<int>(reinterpret_cast<std::intptr_t>(handle)); }

const kelmar::host::VendorCalls kScriptedCalls = {
    [](Init_input* in, Init_output* out, Return_code* rc) -> sqlint32 {
      const DB2_info& info = *in->DB2_session;
      const int sequence = std::stoi(info.sequence);
      vendor->Record(std::string("sqluvint ") + info.action + " " + info.sequence + " of " +
                     std::to_string(in->num_sessions) + ", size " +
                     std::to_string((std::uint64_t{in->size_HI_order} << 32) | in->size_LOW_order) + ", options " +
                     std::to_string(in->size_options));
      const sqlint32 result = vendor->init(sequence, rc);
      if (result == SQLUV_OK) out->pVendorCB = reinterpret_cast<void*>(std::intptr_t{sequence});
      return result;
    },
    [](void* cb, Data* data, Return_code* rc) -> sqlint32 { return vendor->get(SequenceOf(cb), data, rc); },
    [](void* cb, Data* data, Return_code* rc) -> sqlint32 {
      const sqlint32 result = vendor->put(SequenceOf(cb), data, rc);
      if (result == SQLUV_OK) {
        const std::lock_guard lock(vendor->mutex);
        vendor->stored[SequenceOf(cb)].append(static_cast<const char*>(data->dataptr), data->buff_size);
      }
      return result;
    },
    [](sqlint32 action, void* cb, Init_output*, Return_code* rc) -> sqlint32 {
      vendor->Record("sqluvend " + std::string(action == SQLUV_COMMIT ? "COMMIT " : "ABORT ") +
                     std::to_string(SequenceOf(cb)));
      return vendor->end(SequenceOf(cb), rc);
    },
    nullptr,
    nullptr,
};

std::vector<std::string> Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(HostSessions, BackupCutsTheImageIntoOneRunOfBuffersPerSessionAndCommitsAll) {
  RunIsolated([] {
    ScriptedVendor scripted;
    vendor = &scripted;
    const std::string dir = ScratchDir();
    const std::string image = PatternBytes(10 * 1000 + 7, 1);
    kelmar::testbed::WriteFile(dir + "/image", image);

    const OperationReport report =
        RunOperation(kScriptedCalls, Command({"--library", "l", "backup", "--input", dir + "/image", "--sessions", "3",
                                              "--buffer-size", "1000", "--timestamp", "20261205141541",
                                              "--options", "XjInstanceName=Instance002"}));
    ASSERT_EQ(report.status, ExitStatus::kSuccess) << report.failure;
    // 11 buffers: 4, 4 and 3 of them, in image order.
    EXPECT_EQ(scripted.stored[1], image.substr(0, 4000));
    EXPECT_EQ(scripted.stored[2], image.substr(4000, 4000));
    EXPECT_EQ(scripted.stored[3], image.substr(8000));
    EXPECT_EQ(Sorted(scripted.calls), (std::vector<std::string>{
                                          "sqluvend COMMIT 1", "sqluvend COMMIT 2", "sqluvend COMMIT 3",
                                          "sqluvint W 001 of 3, size 10007, options 26",
                                          "sqluvint W 002 of 3, size 10007, options 26",
                                          "sqluvint W 003 of 3, size 10007, options 26"}));
    // Every session finished its data before the first was ended.
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(scripted.calls[i].rfind("sqluvint", 0), 0u) << scripted.calls[i];
    ASSERT_EQ(report.sessions.size(), 3u);
    EXPECT_EQ(report.sessions[2].bytes, 2007u);
    EXPECT_EQ(report.sessions[2].buffers, 3u);
  });
}

TEST(HostSessions, OneFailingSessionAbortsEveryOpenedSession) {
  struct Case {
    const char* name;
    std::function<void(ScriptedVendor&)> script;
    std::vector<std::string> ends;  // sorted
    const char* failure;
  };
  const Case cases[] = {
      {"a put fails",
       [](ScriptedVendor& v) {
         v.put = [](int sequence, Data*, Return_code* rc) {
           if (sequence != 2) return SQLUV_OK;
           rc->return_code = SQLUV_IO_ERROR;
           std::snprintf(rc->description, sizeof rc->description, "disk gone");
           return SQLUV_IO_ERROR;
         };
       },
       {"sqluvend ABORT 1", "sqluvend ABORT 2", "sqluvend ABORT 3"},
       "session 2: sqluvput returned SQLUV_IO_ERROR (25): \"disk gone\""},
      {"a session does not open",
       [](ScriptedVendor& v) {
         v.init = [](int sequence, Return_code* rc) {
           if (sequence != 3) return SQLUV_OK;
           rc->return_code = SQLUV_INIT_FAILED;
           return -1;
         };
       },
       {"sqluvend ABORT 1", "sqluvend ABORT 2"},
       "session 3: sqluvint returned -1, return code SQLUV_INIT_FAILED (11)"},
  };
  for (const Case& c : cases) {
    RunIsolated([&] {
      ScriptedVendor scripted;
      vendor = &scripted;
      c.script(scripted);
      const std::string dir = ScratchDir();
      kelmar::testbed::WriteFile(dir + "/image", PatternBytes(30000, 2));
      const OperationReport report = RunOperation(
          kScriptedCalls, Command({"--library", "l", "backup", "--input", dir + "/image", "--sessions", "3",
                                   "--buffer-size", "1000"}));
      EXPECT_EQ(report.status, ExitStatus::kVendorFailure) << c.name;
      EXPECT_EQ(report.failure, c.failure) << c.name;
      std::vector<std::string> ends;
      for (const std::string& call : scripted.calls) {
        if (call.rfind("sqluvend", 0) == 0) ends.push_back(call);
      }
      EXPECT_EQ(Sorted(ends), c.ends) << c.name;
    });
  }
}

// DB2 takes a restore as failed when the vendor's answers make no sense, and
// then no output file may look complete.
TEST(HostSessions, RestoreRefusesAnswersThatMakeNoSenseAndLeavesNoOutput) {
  struct Case {
    sqlint32 result;
    sqlint32 bytes;
    bool set_return_code;
    const char* failure;
  };
  const Case cases[] = {
      {SQLUV_OK, 0, true, "sqluvget returned SQLUV_OK (0) with 0 bytes in a buffer of 512"},
      {SQLUV_MORE_DATA, 513, true, "sqluvget returned SQLUV_MORE_DATA (21) with 513 bytes in a buffer of 512"},
      {SQLUV_ENDOFMEDIA, -1, true, "sqluvget returned SQLUV_ENDOFMEDIA (23) with -1 bytes in a buffer of 512"},
      {SQLUV_END_OF_DATA, 10, true, "sqluvget returned SQLUV_END_OF_DATA (14)"},
      {99, 10, true, "sqluvget returned 99"},
      {-1, 10, false, "sqluvget returned -1, return code not set"},
  };
  for (const Case& c : cases) {
    RunIsolated([&] {
      ScriptedVendor scripted;
      vendor = &scripted;
      // The first buffer is good, the second is the case's.
      scripted.get = [&, calls = 0](int, Data* data, Return_code* rc) mutable {
        const bool first = calls++ == 0;
        data->actual_buff_size = first ? data->buff_size : c.bytes;
        const sqlint32 result = first ? SQLUV_OK : c.result;
        if (first || c.set_return_code) rc->return_code = result;
        return result;
      };
      const std::string dir = ScratchDir();
      const OperationReport report =
          RunOperation(kScriptedCalls, Command({"--library", "l", "restore", "--output", dir + "/restored",
                                                "--timestamp", "20261205141541", "--buffer-size", "512"}));
      EXPECT_EQ(report.status, ExitStatus::kVendorFailure);
      EXPECT_EQ(report.failure, std::string("session 1: ") + c.failure);
      EXPECT_EQ(Listing(dir), std::vector<std::string>{}) << c.failure;
      EXPECT_EQ(scripted.calls.back(), "sqluvend ABORT 1");
    });
  }
}

// Nothing in the parts tells how many there are, so only a part after the
// last that is not found shows that the joined parts are the whole image.
TEST(HostSessions, RestoreJoinsThePartsInSequenceOrderAndPublishesOnlyAWholeImage) {
  struct Case {
    const char* what;
    std::function<sqlint32(Return_code*)> part_after_last;  // sqluvint of sequence 4
    std::function<sqlint32(Return_code*)> end_after_last;   // its sqluvend, if opened
    const char* failure;                                    // null: the restore succeeds
    bool ended;                                             // "sqluvend ABORT 4" was called
  };
  const auto result = [](sqlint32 code, const char* description = "") {
    return [=](Return_code* rc) {
      rc->return_code = code;
      std::snprintf(rc->description, sizeof rc->description, "%s", description);
      return code;
    };
  };
  const char* const kMoreParts =
      "the image has more parts than this restore's 3 sessions (part 4 exists): restore it with as many sessions as "
      "its backup had";
  const Case cases[] = {
      {"no part after the last", result(SQLUV_OBJ_NOT_FOUND, "no such object"), result(SQLUV_OK), nullptr, false},
      {"a part after the last", result(SQLUV_OK), result(SQLUV_OK), kMoreParts, true},
      {"a part after the last, whose abort fails", result(SQLUV_OK), result(SQLUV_ABORT_FAILED, "tape stuck"),
       "the image has more parts than this restore's 3 sessions (part 4 exists): restore it with as many sessions as "
       "its backup had; ending the session for part 4: sqluvend(ABORT) returned SQLUV_ABORT_FAILED (29): \"tape "
       "stuck\"",
       true},
      {"the vendor cannot tell", result(SQLUV_IO_ERROR, "disk gone"), result(SQLUV_OK),
       "asking for part 4 of the image: sqluvint returned SQLUV_IO_ERROR (25): \"disk gone\"", false},
      {"the vendor leaves the return code alone", [](Return_code*) { return -1; }, result(SQLUV_OK),
       "asking for part 4 of the image: sqluvint returned -1, return code not set", false},
  };
  for (const Case& c : cases) {
    RunIsolated([&] {
      ScriptedVendor scripted;
      vendor = &scripted;
      const std::string parts[] = {PatternBytes(700, 3), PatternBytes(0, 4), PatternBytes(1500, 5)};
      std::size_t offsets[3] = {};
      scripted.init = [&](int sequence, Return_code* rc) { return sequence <= 3 ? SQLUV_OK : c.part_after_last(rc); };
      scripted.end = [&](int sequence, Return_code* rc) { return sequence <= 3 ? SQLUV_OK : c.end_after_last(rc); };
      // Session k hands out its part in buffers; an exactly full last buffer
      // is followed by SQLUV_ENDOFMEDIA_NO_DATA.
      scripted.get = [&](int sequence, Data* data, Return_code*) {
        const std::string& part = parts[sequence - 1];
        std::size_t& offset = offsets[sequence - 1];
        const std::size_t n = std::min<std::size_t>(data->buff_size, part.size() - offset);
        std::memcpy(data->dataptr, part.data() + offset, n);
        offset += n;
        data->actual_buff_size = static_cast<sqlint32>(n);
        if (n == 0) return SQLUV_ENDOFMEDIA_NO_DATA;
        return n < static_cast<std::size_t>(data->buff_size) ? SQLUV_ENDOFMEDIA : SQLUV_OK;
      };
      const std::string dir = ScratchDir();
      const OperationReport report = RunOperation(
          kScriptedCalls, Command({"--library", "l", "restore", "--output", dir + "/restored", "--sessions", "3",
                                   "--timestamp", "20261205141541", "--buffer-size", "500"}));
      if (c.failure == nullptr) {
        ASSERT_EQ(report.status, ExitStatus::kSuccess) << c.what << ": " << report.failure;
        EXPECT_EQ(ReadFile(dir + "/restored"), parts[0] + parts[1] + parts[2]) << c.what;
        EXPECT_EQ(Listing(dir), std::vector<std::string>{"restored"}) << c.what;
      } else {
        EXPECT_EQ(report.status, ExitStatus::kVendorFailure) << c.what;
        EXPECT_EQ(report.failure, c.failure) << c.what;
        EXPECT_EQ(Listing(dir), std::vector<std::string>{}) << c.what << ": no output, no leftovers";
      }
      // The part after the last is asked for once every session has been
      // committed, and it is no session of the report.
      const std::vector<std::string> committed = {"sqluvend COMMIT 1", "sqluvend COMMIT 2", "sqluvend COMMIT 3"};
      ASSERT_GE(scripted.calls.size(), 7u) << c.what;
      EXPECT_EQ(Sorted({scripted.calls.begin() + 3, scripted.calls.begin() + 6}), committed) << c.what;
      std::vector<std::string> after(scripted.calls.begin() + 6, scripted.calls.end());
      std::vector<std::string> expected_after = {"sqluvint R 004 of 3, size 0, options 0"};
      if (c.ended) expected_after.push_back("sqluvend ABORT 4");
      EXPECT_EQ(after, expected_after) << c.what;
      EXPECT_EQ(report.sessions.size(), 3u) << c.what;
    });
  }
}

}  // namespace
