#include "platform/busmarker.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

extern char** environ;

namespace morvane {
namespace {

// A marker name of this test run, so that a copy of the program or another
// test running on the machine does not meet it.
std::string TestName(const char* what) {
  return "MorvaneTest." + std::string(what) + "." + std::to_string(::getpid());
}

// A helper process started with pipes on its standard input and output.
class Helper {
 public:
  Helper(const char* mode, const std::string& name) {
    int in[2], out[2];
    EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const std::string path = MORVANE_BUSMARKER_HELPER;
    char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(mode),
                    const_cast<char*>(name.c_str()), nullptr};
    EXPECT_EQ(::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
  }
  ~Helper() {
    if (toChild_ >= 0) ::close(toChild_);
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    ::close(fromChild_);
  }

  // The first line the helper writes, without its line end.
  std::string ReadLine() {
    std::string line;
    char c;
    while (::read(fromChild_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  void Kill(int sig) { ::kill(pid_, sig); }
  void CloseInput() {
    ::close(toChild_);
    toChild_ = -1;
  }
  // The wait status of the ended helper.
  int Wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  bool reaped_ = false;
};

// Exit code of "busmarker_helper try NAME": 0 took it, 1 held, 2 failed.
int TryInOtherProcess(const std::string& name) {
  Helper helper("try", name);
  const int status = helper.Wait();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(BusMarker, OneHolderAtATimeInThisProcess) {
  const std::string name = TestName("same");
  BusMarkerResult first = AcquireBusMarker(name);
  ASSERT_EQ(first.state, BusMarkerState::Acquired) << first.error;
  EXPECT_TRUE(first.handle.IsOpen());

  BusMarkerResult second = AcquireBusMarker(name);
  EXPECT_EQ(second.state, BusMarkerState::Held);
  EXPECT_FALSE(second.handle.IsOpen());

  first.handle.Close();
  EXPECT_FALSE(first.handle.IsOpen());
  first.handle.Close();  // closing twice is harmless
  EXPECT_EQ(AcquireBusMarker(name).state, BusMarkerState::Acquired);
}

TEST(BusMarker, DestroyingOrMovingTheHandle) {
  const std::string name = TestName("raii");
  {
    BusMarkerResult r = AcquireBusMarker(name);
    ASSERT_EQ(r.state, BusMarkerState::Acquired);
    BusMarkerHandle moved = std::move(r.handle);
    EXPECT_FALSE(r.handle.IsOpen());
    EXPECT_TRUE(moved.IsOpen());
    r.handle.Close();  // the moved-from handle releases nothing
    EXPECT_EQ(AcquireBusMarker(name).state, BusMarkerState::Held);
  }
  EXPECT_EQ(AcquireBusMarker(name).state, BusMarkerState::Acquired);
}

TEST(BusMarker, DifferentNamesDoNotMeet) {
  BusMarkerResult a = AcquireBusMarker(TestName("a"));
  BusMarkerResult b = AcquireBusMarker(TestName("b"));
  EXPECT_EQ(a.state, BusMarkerState::Acquired);
  EXPECT_EQ(b.state, BusMarkerState::Acquired);
}

TEST(BusMarker, UnusableNamesFailWithAReason) {
  for (const std::string& name : {std::string(), std::string(200, 'x')}) {
    BusMarkerResult r = AcquireBusMarker(name);
    EXPECT_EQ(r.state, BusMarkerState::Failed);
    EXPECT_FALSE(r.error.empty());
    EXPECT_FALSE(r.handle.IsOpen());
  }
}

TEST(BusMarker, SecondProcessIsRefusedWhileThisOneHolds) {
  const std::string name = TestName("other");
  BusMarkerResult mine = AcquireBusMarker(name);
  ASSERT_EQ(mine.state, BusMarkerState::Acquired) << mine.error;
  EXPECT_EQ(TryInOtherProcess(name), 1);
  mine.handle.Close();
  EXPECT_EQ(TryInOtherProcess(name), 0);
}

TEST(BusMarker, ThisProcessIsRefusedWhileAnotherHolds) {
  const std::string name = TestName("held");
  Helper holder("hold", name);
  ASSERT_EQ(holder.ReadLine(), "held");
  EXPECT_EQ(AcquireBusMarker(name).state, BusMarkerState::Held);
  EXPECT_EQ(TryInOtherProcess(name), 1);
  holder.CloseInput();  // the holder ends normally
  holder.Wait();
  EXPECT_EQ(AcquireBusMarker(name).state, BusMarkerState::Acquired);
}

// However the holder ends, the system releases the marker with it.
TEST(BusMarker, ReleasedWhenTheHolderIsKilled) {
  const rlimit noCore{0, 0};  // the crashed helper leaves no core file
  ::setrlimit(RLIMIT_CORE, &noCore);
  for (int sig : {SIGKILL, SIGSEGV, SIGTERM}) {
    SCOPED_TRACE(strsignal(sig));
    const std::string name = TestName("killed");
    Helper holder("hold", name);
    ASSERT_EQ(holder.ReadLine(), "held");
    ASSERT_EQ(AcquireBusMarker(name).state, BusMarkerState::Held);
    holder.Kill(sig);
    const int status = holder.Wait();
    if (sig == SIGKILL) {
      EXPECT_TRUE(WIFSIGNALED(status));
    }
    EXPECT_EQ(AcquireBusMarker(name).state, BusMarkerState::Acquired);
  }
}

// A program started by the holder does not inherit the marker, so the bus
// is free again as soon as the holder lets it go.
TEST(BusMarker, NotInheritedByStartedPrograms) {
  const std::string name = TestName("exec");
  BusMarkerResult mine = AcquireBusMarker(name);
  ASSERT_EQ(mine.state, BusMarkerState::Acquired);
  Helper child("hold", TestName("exec-child"));
  ASSERT_EQ(child.ReadLine(), "held");
  mine.handle.Close();
  EXPECT_EQ(TryInOtherProcess(name), 0);
}

}  // namespace
}  // namespace morvane
