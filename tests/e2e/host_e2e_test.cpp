// DB2 sessions end to end: kelmar-host driving libkelmar.so, which finds the
// installation and forwards to the sample backend.
#include "host_test_support.h"

namespace {

using namespace kelmar::testbed;
using namespace kelmar::testing;

constexpr const char* kUnloadMarker = "/tmp/xj_unloadLibXjKelmar";
constexpr auto npos = std::string::npos;

void ExpectOk(const ProgramRun& run) { EXPECT_EQ(run.status, 0) << run.out << run.err; }

// What the trace tells about the backend's loads and unloads and the sessions open meanwhile.
struct Story {
  int loads = 0, unloads = 0, unloads_while_open = 0, peak = 0;  // peak: the most sessions open at once
};
Story ReadStory() {
  Story story;
  int open = 0;
  for (const std::string& line : TraceLines()) {
    if (line == "sqluvint(): -----------Leaving, returning 0--------") story.peak = std::max(story.peak, ++open);
    if (line == "sqluvend(): Calling sqluvendpp()") --open;
    if (line.find("dlopen succeeded") != npos) ++story.loads;
    if (line.rfind("unInitializeFptrs(): sqluv_handle is:", 0) == 0 && line.find("(nil)") == npos) {
      ++story.unloads;
      story.unloads_while_open += open > 0;
    }
  }
  return story;
}

// Images through Instance002, named by the options, queried and deleted as DB2 does; then logs, one session after
// another as DB2's long-lived log archiving process stores them: with the unload marker each session loads the
// backend afresh, unless a keep-loaded marker that cannot be deleted spares every unload.
TEST(EndToEnd, BackupRestoreQueryDeleteAndLogs) {
  struct Case { std::size_t size; int sessions; bool unload_marker, keep_loaded; };
  const Case cases[] = {{0, 2, false, false},     {65536, 1, false, false},        {3 * 65536 + 1, 4, false, false},
                        {65535, 1, true, false}, {10 * 65536 + 1, 4, true, false}, {1, 3, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.size << " bytes, " << c.sessions << " sessions, marker " << c.unload_marker);
    RunIsolated([&] {
      InstallVorlan();
      const std::string image = PatternBytes(c.size, c.sessions);
      WriteFile("/tmp/image", image);
      if (c.unload_marker) WriteFile(kUnloadMarker, "");
      if (c.keep_loaded) MakeDirs("/tmp/debugDB2_nounload/busy");
      const bool unloads = c.unload_marker && !c.keep_loaded;
      EnableTrace();
      const Names options = {"--options", "XjInstanceName=Instance002"};
      for (Names run : {Names{"backup", "--input", "/tmp/image"}, Names{"restore", "--output", "/tmp/restored"}}) {
        run.insert(run.end(), {"--timestamp", "20261205141541", "--sessions", std::to_string(c.sessions),
                               "--buffer-size", "65536", options[0], options[1]});
        ClearTrace();
        ExpectOk(Host(run));
        const Story story = ReadStory();
        EXPECT_EQ(story.peak, c.sessions);
        EXPECT_EQ(story.unloads_while_open, 0);
        EXPECT_EQ(story.unloads >= 1, unloads) << "the last session to end unloads";
        if (!unloads) { EXPECT_EQ(story.loads, 1) << "sessions of one process share one load"; }
      }
      EXPECT_TRUE(ReadFile("/tmp/restored") == image);
      EXPECT_EQ(Listing("/tmp/home2/store").size(), static_cast<std::size_t>(c.sessions));
      const std::string images = Host({"query-images", options[0], options[1]}).out;
      EXPECT_NE(images.find("total: " + std::to_string(c.sessions) + " object"), npos) << images;
      ExpectOk(Host({"delete-images", "--timestamp", "202612", options[0], options[1]}));
      EXPECT_EQ(Listing("/tmp/home2/store"), Names{});

      MakeDirs("/tmp/back");
      Names archive = {"archive", "--buffer-size", "4096"};
      for (const char* name : {"S0000001.LOG", "S0000002.LOG", "S0000003.LOG"}) {
        archive.push_back(std::string("/tmp/") + name);
        WriteFile(archive.back(), PatternBytes(20000 + name[7], name[7]));
      }
      ClearTrace();
      ExpectOk(Host(archive));
      const Story story = ReadStory();  // one query session looks for the names in the store first
      EXPECT_TRUE(story.loads == (unloads ? 4 : 1) && story.unloads == (unloads ? 4 : 0)) << story.loads;
      ExpectOk(Host({"retrieve", "--output-dir", "/tmp/back", "S0000003.LOG", "S0000001.LOG"}));
      EXPECT_EQ(Listing("/tmp/back"), (Names{"S0000001.LOG", "S0000003.LOG"}));
      for (const std::string& name : Listing("/tmp/back")) {
        EXPECT_TRUE(ReadFile("/tmp/back/" + name) == ReadFile("/tmp/" + name)) << name;
      }
      ExpectOk(Host({"delete-logs", "S0000002.LOG"}));
      const std::string logs = Host({"query-logs"}).out;
      EXPECT_TRUE(logs.find("total: 2 objects") != npos && logs.find("S0000002.LOG") == npos) << logs;
    });
  }
}

}  // namespace
