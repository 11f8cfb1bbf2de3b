// DB2 sessions while the platform's calls fail under the library, or its files are damaged.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "backends/test_backend_paths.h"
#include "base/process_locks.h"
#include "discovery/environment.h"
#include "log/switch_files.h"
#include "testbed/testbed.h"

namespace {

// The platform calls that fail on request: this executable is linked with -Wl,--wrap for each of them.
enum Call { kMalloc, kStrdup, kPutenv, kChdir, kOpendir, kReaddir64, kDlclose, kKeyCreate, kPread, kFdopen, kCount };
constexpr int kShortRead = 0;         // as pread's error: it reads one byte less than asked
constexpr int kClaimsSuccess = 0;     // as putenv's: it answers 0 without touching the environment
constexpr int kAnyError = 0;          // for dlclose, which leaves kDlcloseFailure's reason for dlerror
constexpr std::size_t kWithheld = 1;  // the byte a short read leaves out
constexpr const char* kDlcloseFailure = "/nonexistent/kelmar-dlclose-fault.so";

// Atomics: a fault is armed and read on whatever thread the case uses. A negative pass count: struck or disarmed.
struct Fault { std::atomic<int> pass{-1}, error{0}; };
std::array<Fault, kCount> faults;

bool Strikes(Call call) {
  Fault& fault = faults[call];
  if (fault.pass.load() < 0 || fault.pass.fetch_sub(1) > 0) return false;
  errno = fault.error.load();
  return true;
}

namespace tb = kelmar::test_backend;
using namespace kelmar::testbed;

const TraceTag kBaseDir("GetVorlanBaseDir");
const TraceTag kLoader("initializeFptrs()");
constexpr sqlint32 kLoadFailed = -1;
constexpr int kFirstCall = 0;  // as the pass count: the fault strikes the first call
constexpr unsigned kLongestCaseSeconds = 30;
const std::string kLibrary = "/tmp/home/Base/libXjKelmar.so";
const std::string kProperties = "/tmp/reg/Vorlan/Instance001/Base/.properties";
const std::string kSound = "result: ok, DB2 would get a working backend (exit status 0)";

// After `pass` more calls of `call`, the next one fails with `error`; later calls pass through again.
std::function<void()> Fail(Call call, int pass, int error) {
  return [=] {
    faults[call].error.store(error);
    faults[call].pass.store(pass);
  };
}
// Disarms the armed call (one is armed at a time): whether none was left armed.
bool AllStruck() {
  return std::ranges::none_of(faults, [](Fault& fault) { return fault.pass.exchange(-1) >= 0; });
}

std::function<void()> CutTo(off_t bytes) {
  return [bytes] { ASSERT_EQ(truncate(kLibrary.c_str(), bytes), 0); };
}
// Puts a FIFO, or a link to `target`, in the file's place.
std::function<void()> Replace(const std::string& path, const char* target = nullptr) {
  return [=] {
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(target != nullptr ? symlink(target, path.c_str()) : mkfifo(path.c_str(), 0755), 0) << path;
  };
}

// Only a scan of the registry finds Instance002: `call` fails while it scans or exports the name.
std::function<void()> Scanning(Call call, int pass, int error) {
  return [=] {
    std::filesystem::rename("/tmp/reg/Vorlan/Instance001", "/tmp/reg/Vorlan/Instance002");
    unsetenv("VORLAN_INST");
    Fail(call, pass, error)();
  };
}

// A session meeting a failing call or a damaged file goes on or fails with its reason, leaves no descriptor open and
// another's value under thread key 0 (the library's key, had it been created) untouched; kelmar-check names the damage.
TEST(PlatformFaults, LoadMeetingAFailingCallOrADamagedFileGoesOnOrFailsWithItsReason) {
  constexpr int kAfterHeader = 1;  // the pass count: the file header's read passes
  constexpr int kDotEntries = 2;   // tmpfs lists "." and ".." before the instance
  constexpr pthread_key_t kLowestKey = 0;
  constexpr off_t kInFileHeader = 20, kInProgramHeaders = 100, kInFirstSegment = 4096;
  constexpr std::size_t kProgramHeaderCountAt = 56, kFileHeaderBytes = 64;
  // A file header alone: one read past the table would find the file's end.
  const auto header_only = [] {
    const std::string header = ReadFile(kLibrary).substr(0, kProgramHeaderCountAt);
    WriteFile(kLibrary, header + std::string(kFileHeaderBytes - kProgramHeaderCountAt, '\0'), 0755);
  };
  const auto unload_failing = [] {
    WriteFile(kelmar::kUnloadMarker, "");
    Fail(kDlclose, kFirstCall, kAnyError)();
  };
  const std::string cwd = std::filesystem::current_path();
  const std::string loaded = kLoader("dlopen succeeded. Current dir: \"/tmp/home/Base\", loaded: \"" + kLibrary + "\"");
  const std::string loaded_in_old = kLoader("dlopen succeeded. Current dir: \"" + cwd + "\", loaded: \"" + kLibrary);
  const std::string refused = kLoader("dlopen failed when loading \"" + kLibrary + "\", error = \"");
  const std::string unclosed = "unInitializeFptrs(): dlclose() returned failure, non-zero return code: -1, reason:\"";
  const std::string no_properties = kBaseDir("Could not open file " + kProperties);
  const std::string at_load = "result: FAILED at load (exit status 9): dlopen failed: ";
  struct Case { std::string name, line, verdict = kSound; std::function<void()> cause; sqlint32 result = kLoadFailed; };
  const Case cases[] = {
      {.name = "chdir fails", .line = loaded_in_old, .cause = Fail(kChdir, kFirstCall, EACCES), .result = SQLUV_OK},
      {.name = "read interrupted", .line = loaded, .cause = Fail(kPread, kAfterHeader, EINTR), .result = SQLUV_OK},
      {.name = "short read", .line = loaded, .cause = Fail(kPread, kAfterHeader, kShortRead), .result = SQLUV_OK},
      {.name = "read fails", .line = refused + "program header 0 cannot be read\", pwd=\"/tmp/home/Base\"",
       .cause = Fail(kPread, kAfterHeader, EIO)},
      {.name = "fdopen fails", .line = no_properties, .cause = Fail(kFdopen, kFirstCall, EMFILE)},
      {.name = "no thread key left", .line = loaded, .cause = Fail(kKeyCreate, kFirstCall, EAGAIN), .result = SQLUV_OK},
      {.name = "dlclose fails", .line = unclosed + kDlcloseFailure, .cause = unload_failing, .result = SQLUV_OK},
      {.name = "malloc fails", .line = kBaseDir("malloc(24)failed."), .cause = Scanning(kMalloc, kFirstCall, ENOMEM)},
      {.name = "putenv fails", .line = kBaseDir("putenv(VORLAN_INST=Instance002) failed with error: 12"),
       .cause = Scanning(kPutenv, kFirstCall, ENOMEM)},
      {.name = "putenv claims success", .line = kBaseDir("Environment variable (VORLAN_INST) is not set"),
       .cause = Scanning(kPutenv, kFirstCall, kClaimsSuccess)},
      {.name = "opendir fails", .line = "get_first_vorlan_instname: open(/tmp/reg/Vorlan) failed with errno: 24",
       .cause = Scanning(kOpendir, kFirstCall, EMFILE)},
      {.name = "readdir fails", .line = kBaseDir("get_first_vorlan_instname() failed as well, returning error."),
       .cause = Scanning(kReaddir64, kDotEntries, EIO)},
      {.name = "shorter than its file header", .line = refused + kLibrary + ": file too short",
       .verdict = at_load + kLibrary + ": file too short", .cause = CutTo(kInFileHeader)},
      {.name = "cut in program headers", .line = refused + "file is cut short: program headers end at ",
       .verdict = at_load + "file is cut short: program headers end at ", .cause = CutTo(kInProgramHeaders)},
      {.name = "cut in a segment", .line = refused + "file is cut short: segment ",
       .verdict = at_load + "file is cut short: segment ", .cause = CutTo(kInFirstSegment)},
      {.name = "no program header", .line = refused + kLibrary + ": object file has no loadable segments",
       .verdict = at_load + kLibrary + ": object file has no loadable segments", .cause = header_only},
      {.name = "the backend is a FIFO", .line = refused + "not a regular file",
       .verdict = at_load + "not a regular file", .cause = Replace(kLibrary)},
      {.name = "the .properties is a device", .line = no_properties,
       .verdict = "result: FAILED at properties (exit status 5): cannot open " + kProperties +
                  ": it is a device, not a regular file",
       .cause = Replace(kProperties, "/dev/zero")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InSession(tb::kComplete, [&](const std::string&) {
      pthread_key_t own = kLowestKey;
      ASSERT_EQ(pthread_key_create(&own, nullptr), 0);  // key 0 is in use now, if it was not before
      const void* const others_value = pthread_getspecific(kLowestKey);
      const std::size_t descriptors = Listing("/proc/self/fd").size();
      Db2Session session;
      alarm(kLongestCaseSeconds);
      c.cause();
      EXPECT_EQ(session.Start(), c.result);
      EXPECT_EQ(Listing("/proc/self/fd").size(), descriptors);
      {
        const kelmar::SharedTableHold inside_a_call = kelmar::SharedTableHold::Take();
        EXPECT_EQ(pthread_getspecific(kLowestKey), others_value);
      }
      EXPECT_EQ(session.End(), c.result);  // the backend's answer, or the library's -1 without a backend
      EXPECT_TRUE(AllStruck());
      EXPECT_TRUE(TraceHoldsLineStartingWith(c.line));
      const std::string check = RunProgram({KELMAR_CHECK_PROGRAM}).out;
      EXPECT_NE(check.find(c.verdict), std::string::npos) << check;
      Db2Session next;
      EXPECT_EQ(next.Start() == SQLUV_OK, c.verdict == kSound) << "the next session loads where the files are sound";
    });
  }
}

// VORLAN_VM that cannot be set: the backend loads all the same; SetEnv reports the failure.
TEST(PlatformFaults, VorlanVmThatCannotBeExportedLeavesTheLoadGoingOn) {
  constexpr int kSetEnvFailed = -1;
  struct Case { std::string name; Call call; };
  const Case cases[] = {{.name = "no memory for the entry", .call = kMalloc},
                        {.name = "no memory for its copy", .call = kStrdup},
                        {.name = "putenv fails", .call = kPutenv}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InSession(tb::kComplete, [&](const std::string&) {
      Db2Session session;
      Fail(c.call, kFirstCall, ENOMEM)();
      EXPECT_EQ(session.Start(), SQLUV_OK);
      EXPECT_TRUE(AllStruck());
      Fail(c.call, kFirstCall, ENOMEM)();
      EXPECT_EQ(SetEnv("KELMAR_FAULT", "set"), kSetEnvFailed);
      EXPECT_TRUE(AllStruck());
      EXPECT_EQ(getenv("KELMAR_FAULT"), nullptr);
    });
  }
}

}  // namespace

// The linker sends the library's calls of the wrapped functions here.
extern "C" {
void* __real_malloc(std::size_t size);
char* __real_strdup(const char* text);
int __real_putenv(char* entry);
int __real_chdir(const char* path);
DIR* __real_opendir(const char* path);
dirent64* __real_readdir64(DIR* listing);
int __real_dlclose(void* handle);
int __real_pthread_key_create(pthread_key_t* key, void (*destructor)(void*));
ssize_t __real_pread(int descriptor, void* into, std::size_t bytes, off_t offset);
std::FILE* __real_fdopen(int descriptor, const char* mode);

void* __wrap_malloc(std::size_t size) { return Strikes(kMalloc) ? nullptr : __real_malloc(size); }
char* __wrap_strdup(const char* text) { return Strikes(kStrdup) ? nullptr : __real_strdup(text); }
int __wrap_chdir(const char* path) { return Strikes(kChdir) ? -1 : __real_chdir(path); }
DIR* __wrap_opendir(const char* path) { return Strikes(kOpendir) ? nullptr : __real_opendir(path); }
dirent64* __wrap_readdir64(DIR* listing) { return Strikes(kReaddir64) ? nullptr : __real_readdir64(listing); }
std::FILE* __wrap_fdopen(int fd, const char* mode) { return Strikes(kFdopen) ? nullptr : __real_fdopen(fd, mode); }
int __wrap_pthread_key_create(pthread_key_t* key, void (*destructor)(void*)) {
  return Strikes(kKeyCreate) ? errno : __real_pthread_key_create(key, destructor);
}
int __wrap_putenv(char* entry) {
  if (!Strikes(kPutenv)) return __real_putenv(entry);
  return errno == kClaimsSuccess ? 0 : -1;
}
ssize_t __wrap_pread(int descriptor, void* into, std::size_t bytes, off_t offset) {
  if (!Strikes(kPread)) return __real_pread(descriptor, into, bytes, offset);
  return errno == kShortRead ? __real_pread(descriptor, into, bytes - kWithheld, offset) : -1;
}
int __wrap_dlclose(void* handle) {
  if (!Strikes(kDlclose)) return __real_dlclose(handle);
  dlopen(kDlcloseFailure, RTLD_NOW);
  return -1;
}
}
