#include "testbed/isolation.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <linux/securebits.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// Defined only in a build with a sanitizer.
struct __sanitizer_sandbox_arguments;
extern "C" [[gnu::weak]] void __sanitizer_sandbox_on_notify(__sanitizer_sandbox_arguments* args);

namespace kelmar::testbed {
namespace {

int FailedParts() {
  const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
  int failed = 0;
  for (int i = 0; i < result->total_part_count(); ++i) failed += result->GetTestPartResult(i).failed() ? 1 : 0;
  return failed;
}

std::string Failed(const std::string& what) { return what + ": " + std::strerror(errno); }

bool WriteTo(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return written;
}

// Root of a new user namespace that maps only the caller's own ids: what an ordinary user may do where the kernel
// allows it, and enough to own a mount namespace.
std::string EnterUserNamespace() {
  const std::string uid = std::to_string(geteuid()), gid = std::to_string(getegid());
  // Only a single-threaded process may enter one (see SanitizerThreadStoppable).
  if (__sanitizer_sandbox_on_notify != nullptr) __sanitizer_sandbox_on_notify(nullptr);
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return Failed("unshare(CLONE_NEWUSER | CLONE_NEWNS)");
  // An unprivileged process may map its group only with setgroups denied.
  if (!WriteTo("/proc/self/setgroups", "deny")) return Failed("denying setgroups");
  if (!WriteTo("/proc/self/uid_map", "0 " + uid + " 1")) return Failed("writing uid_map");
  if (!WriteTo("/proc/self/gid_map", "0 " + gid + " 1")) return Failed("writing gid_map");
  return {};
}

// ThreadSanitizer starts a thread of its own in every forked child, which keeps the child out of a new user
// namespace. It stops that thread when told, but only once the parent has started a thread of its own.
void SanitizerThreadStoppable() {
  static std::once_flag once;
  if (__sanitizer_sandbox_on_notify != nullptr) std::call_once(once, [] { std::thread([] {}).join(); });
}

std::string EnterMountNamespace() {
  if (unshare(CLONE_NEWNS) == 0) return {};
  const std::string as_root = Failed("unshare(CLONE_NEWNS)");
  const std::string as_user = EnterUserNamespace();
  return as_user.empty() ? as_user : as_root + "; " + as_user;
}

// The checkout and the build tree: the cases run programs and read files from there, so where they lie under /tmp
// they are held open while the tmpfs covers /tmp and bound back at their own paths inside it.
constexpr std::array<const char*, 2> kKeptDirs = {KELMAR_TESTBED_SOURCE_DIR, KELMAR_TESTBED_BINARY_DIR};

std::string MountTmpfs(const std::array<int, kKeptDirs.size()>& held) {
  if (mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777,size=512m") != 0) return Failed("mounting a tmpfs on /tmp");
  for (std::size_t i = 0; i < held.size(); ++i) {
    if (held[i] < 0) continue;
    std::error_code ignored;  // the mount below tells
    std::filesystem::create_directories(kKeptDirs[i], ignored);
    const std::string source = "/proc/self/fd/" + std::to_string(held[i]);
    if (mount(source.c_str(), kKeptDirs[i], nullptr, MS_BIND | MS_REC, nullptr) != 0)
      return Failed(std::string("keeping ") + kKeptDirs[i] + " reachable");
  }
  return {};
}

}  // namespace

std::string MakePrivateTmp() {
  if (std::string reason = EnterMountNamespace(); !reason.empty()) return reason;
  // Keep the new mounts from propagating back to the machine.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return Failed("making / private");
  std::array<int, kKeptDirs.size()> held;
  held.fill(-1);
  std::string reason;
  for (std::size_t i = 0; i < held.size() && reason.empty(); ++i) {
    if (!std::string_view(kKeptDirs[i]).starts_with("/tmp/")) continue;
    held[i] = open(kKeptDirs[i], O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (held[i] < 0) reason = Failed(std::string("opening ") + kKeptDirs[i]);
  }
  if (reason.empty()) reason = MountTmpfs(held);
  for (const int fd : held) {
    if (fd >= 0) close(fd);
  }
  return reason;
}

void RunIsolated(const std::function<void()>& body) {
  int reason_pipe[2];
  ASSERT_EQ(pipe(reason_pipe), 0) << std::strerror(errno);
  std::fflush(nullptr);
  SanitizerThreadStoppable();

  const pid_t child = fork();
  ASSERT_GE(child, 0) << "fork: " << std::strerror(errno);
  if (child == 0) {
    close(reason_pipe[0]);
    const std::string reason = MakePrivateTmp();
    if (!reason.empty()) {
      [[maybe_unused]] const ssize_t n = write(reason_pipe[1], reason.data(), reason.size());
      _exit(kNoPrivateTmpExit);
    }
    close(reason_pipe[1]);
    // Files and directories get the modes an installer gives them, whatever the caller's umask.
    umask(022);
    // An earlier isolated case's failure is counted in the parent already: judge this child by its own.
    const int failed_before = FailedParts();
    // Nothing may escape the child: gtest would go on running the other cases inside it.
    try {
      body();
    } catch (const std::exception& error) {
      ADD_FAILURE() << "exception escaped the isolated case: " << error.what();
    } catch (...) {
      ADD_FAILURE() << "exception escaped the isolated case";
    }
    std::fflush(nullptr);
    _exit(FailedParts() > failed_before ? 1 : 0);
  }

  close(reason_pipe[1]);
  std::string reason;
  char chunk[256];
  for (ssize_t n; (n = read(reason_pipe[0], chunk, sizeof chunk)) > 0;) reason.append(chunk, static_cast<size_t>(n));
  close(reason_pipe[0]);

  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child) << std::strerror(errno);
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNoPrivateTmpExit && !reason.empty()) {
    GTEST_SKIP() << "no private /tmp for this case: " << reason;
  }
  if (WIFSIGNALED(status)) {
    ADD_FAILURE() << "isolated case died of signal " << WTERMSIG(status) << " (" << strsignal(WTERMSIG(status)) << ")";
  } else {
    EXPECT_EQ(WEXITSTATUS(status), 0) << "isolated case failed (its messages are above)";
  }
}

bool CanUseOtherUsers() {
  unsigned long inside = 1, outside = 0, count = 0;
  std::ifstream("/proc/self/uid_map") >> inside >> outside >> count;
  return geteuid() == 0 && inside == 0 && count > kSecondOtherUid;
}

void DropPrivileges() {
  // Without SECBIT_NOROOT a program run as root would get every capability back.
  ASSERT_EQ(prctl(PR_SET_SECUREBITS, SECBIT_NOROOT | SECBIT_NOROOT_LOCKED), 0) << std::strerror(errno);
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[2] = {};
  ASSERT_EQ(syscall(SYS_capset, &header, none), 0) << std::strerror(errno);
}

}  // namespace kelmar::testbed
