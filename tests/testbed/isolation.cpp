#include "testbed/isolation.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace kelmar::testbed {
namespace {

constexpr int kNoNamespaceExit = 77;


int FailedParts() {
  const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
  int failed = 0;
  for (int i = 0; i < result->total_part_count(); ++i) failed += result->GetTestPartResult(i).failed() ? 1 : 0;
  return failed;
}

}  // namespace

std::string MakePrivateTmp() {
  if (unshare(CLONE_NEWNS) != 0) return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
  // Keep the new mounts from propagating back to the machine.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("making / private: ") + std::strerror(errno);
  if (mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777,size=512m") != 0)
    return std::string("mounting a tmpfs on /tmp: ") + std::strerror(errno);
  return {};
}

void RunIsolated(const std::function<void()>& body) {
  int reason_pipe[2];
  ASSERT_EQ(pipe(reason_pipe), 0) << std::strerror(errno);
  std::fflush(nullptr);

  const pid_t child = fork();
  ASSERT_GE(child, 0) << "fork: " << std::strerror(errno);
  if (child == 0) {
    close(reason_pipe[0]);
    const std::string reason = MakePrivateTmp();
    if (!reason.empty()) {
      [[maybe_unused]] const ssize_t n = write(reason_pipe[1], reason.data(), reason.size());
      _exit(kNoNamespaceExit);
    }
    close(reason_pipe[1]);
    // A failure of an earlier isolated case in the same test is already
    // counted in the parent; judge this child by its own failures only.
    const int failed_before = FailedParts();
    // Nothing may escape the child: gtest would go on running the other
    // cases inside it.
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
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespaceExit && !reason.empty()) {
    GTEST_SKIP() << "no private /tmp for this case: " << reason;
  }
  if (WIFSIGNALED(status)) {
    ADD_FAILURE() << "isolated case died of signal " << WTERMSIG(status) << " (" << strsignal(WTERMSIG(status)) << ")";
  } else {
    EXPECT_EQ(WEXITSTATUS(status), 0) << "isolated case failed; its messages are above";
  }
}

}  // namespace kelmar::testbed
