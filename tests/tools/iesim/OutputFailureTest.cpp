// iesim's outputs on a full disk (/dev/full) and a closed pipe: each failure names the output and
// its reason, the exit status is 3, and no scenario line takes the blame.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

enum class Stdout { devNull, devFull, closedPipe };

struct Ran {
  int status = -1;
  std::string err;
};

// Runs iesim with `args`, its stdout as `out`, and collects its stderr.
Ran runIesim(const std::vector<std::string>& args, Stdout out) {
  int errPipe[2];
  int outPipe[2] = {-1, -1};
  if (::pipe(errPipe) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  switch (out) {
    case Stdout::devNull: posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0); break;
    case Stdout::devFull: posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0); break;
    case Stdout::closedPipe:
      if (::pipe(outPipe) != 0) return {};
      ::close(outPipe[0]);  // nobody will ever read
      posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
      posix_spawn_file_actions_addclose(&actions, outPipe[1]);
      break;
  }
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  posix_spawn_file_actions_addclose(&actions, errPipe[1]);

  std::vector<char*> argv{const_cast<char*>(IESIM_PATH)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  Ran ran;
  const int spawned = posix_spawn(&pid, IESIM_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(errPipe[1]);
  if (outPipe[1] >= 0) ::close(outPipe[1]);
  if (spawned != 0) {
    ::close(errPipe[0]);
    return ran;
  }
  char buffer[4096];
  for (ssize_t n; (n = ::read(errPipe[0], buffer, sizeof buffer)) > 0;) ran.err.append(buffer, n);
  ::close(errPipe[0]);
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  ran.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return ran;
}

struct OutputCase {
  const char* what;
  std::vector<std::string> args;
  Stdout out;
  std::string err;  // the whole of stderr
};

class OutputFailure : public testing::TestWithParam<OutputCase> {};

TEST_P(OutputFailure, NamesTheOutputAndExitsWithThree) {
  const auto& c = GetParam();
  const Ran ran = runIesim(c.args, c.out);
  EXPECT_EQ(ran.status, 3) << c.what << "\n" << ran.err;
  EXPECT_EQ(ran.err, c.err) << c.what;
}

const std::string kFull = "No space left on device";

INSTANTIATE_TEST_SUITE_P(
    Iesim, OutputFailure,
    testing::Values(
        OutputCase{"the report on a full disk", {}, Stdout::devFull,
                   "iesim: cannot write the report (stdout): " + kFull + "\n"},
        OutputCase{"the report into a closed pipe", {}, Stdout::closedPipe,
                   "iesim: cannot write the report (stdout): Broken pipe\n"},
        OutputCase{"the dump on a full disk", {"--quiet", "--dump"}, Stdout::devFull,
                   "iesim: cannot write --dump (stdout): " + kFull + "\n"},
        OutputCase{"the Blip ring", {"--quiet", "--blip", "/dev/full"}, Stdout::devNull,
                   "iesim: cannot write --blip /dev/full: " + kFull + "\n"},
        OutputCase{"the Chrome trace", {"--quiet", "--chrome-trace", "/dev/full"}, Stdout::devNull,
                   "iesim: cannot write --chrome-trace /dev/full: " + kFull + "\n"},
        OutputCase{"the traces",
                   {"--quiet", "--trace", "OrbInternetExitStatusSm=0-31", "--trace-file", "/dev/full"},
                   Stdout::devNull, "iesim: cannot write --trace-file /dev/full: " + kFull + "\n"},
        OutputCase{"a file that cannot be created",
                   {"--quiet", "--chrome-trace", "/nonexistent/trace.json"}, Stdout::devNull,
                   "iesim: cannot write --chrome-trace /nonexistent/trace.json: No such file or "
                   "directory\n"}),
    [](const testing::TestParamInfo<OutputCase>& info) { return "row" + std::to_string(info.index); });

// The same runs with outputs that work pass: the failures above are the outputs' alone.
TEST(OutputFailure, TheSameRunsPassWhenTheOutputsWork) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"--quiet", "--dump"}, {"--quiet", "--blip", "/dev/null"},
           {"--quiet", "--chrome-trace", "/dev/null"},
           {"--quiet", "--trace", "OrbInternetExitStatusSm=0-31", "--trace-file", "/dev/null"}}) {
    const Ran ran = runIesim(args, Stdout::devNull);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.err, "");
  }
}

}  // namespace
