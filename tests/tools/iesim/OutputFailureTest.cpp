// iesim's outputs on a full disk (/dev/full) and a closed pipe: each failure names the output and
// its reason, the exit status is 3, and no scenario line takes the blame.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

enum class Stdout { devNull, devFull, closedPipe };

struct Ran {
  int status = -1;
  std::string err;
};

// Runs iesim with `args`, its stdout as `out`, and collects its stderr.
Ran runIesim(const std::vector<std::string>& args, Stdout out) {
  std::vector<char*> argv{const_cast<char*>(IESIM_PATH)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::FILE* err = std::tmpfile();
  int outPipe[2] = {-1, -1};
  if (err == nullptr || (out == Stdout::closedPipe && ::pipe(outPipe) != 0)) return {};
  ::close(outPipe[0]);  // nobody will ever read
  const pid_t pid = ::fork();
  if (pid == 0) {
    const char* file = out == Stdout::devFull ? "/dev/full" : "/dev/null";
    ::dup2(out == Stdout::closedPipe ? outPipe[1] : ::open(file, O_WRONLY), 1);
    ::dup2(::fileno(err), 2);
    ::execv(IESIM_PATH, argv.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  Ran ran{WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus), {}};
  std::rewind(err);
  for (int c; (c = std::fgetc(err)) != EOF;) ran.err += static_cast<char>(c);
  std::fclose(err);
  return ran;
}

const std::string kFull = "No space left on device";

// Each failure names the output and exits with 3; the same run with outputs that work passes, so
// that the failure is the output's alone.
TEST(OutputFailure, NamesTheOutputAndExitsWithThree) {
  struct Case {
    std::vector<std::string> args;
    Stdout out;
    std::string err;  // the whole of stderr
  };
  for (const Case& c : {
           Case{{}, Stdout::devFull, "iesim: cannot write the report (stdout): " + kFull + "\n"},
           Case{{}, Stdout::closedPipe, "iesim: cannot write the report (stdout): Broken pipe\n"},
           Case{{"--quiet", "--dump"}, Stdout::devFull, "iesim: cannot write --dump (stdout): " + kFull + "\n"},
           Case{{"--quiet", "--blip", "/dev/full"}, Stdout::devNull,
                "iesim: cannot write --blip /dev/full: " + kFull + "\n"},
           Case{{"--quiet", "--chrome-trace", "/dev/full"}, Stdout::devNull,
                "iesim: cannot write --chrome-trace /dev/full: " + kFull + "\n"},
           Case{{"--quiet", "--trace", "OrbInternetExitStatusSm=0-31", "--trace-file", "/dev/full"}, Stdout::devNull,
                "iesim: cannot write --trace-file /dev/full: " + kFull + "\n"},
           // A file that cannot be created.
           Case{{"--quiet", "--chrome-trace", "/nonexistent/trace.json"}, Stdout::devNull,
                "iesim: cannot write --chrome-trace /nonexistent/trace.json: No such file or directory\n"},
       }) {
    const Ran ran = runIesim(c.args, c.out);
    EXPECT_EQ(ran.status, 3) << c.err << ran.err;
    EXPECT_EQ(ran.err, c.err);
    std::vector<std::string> working = c.args;
    for (auto& a : working) a = a.starts_with("/dev/full") || a.starts_with("/nonexistent") ? "/dev/null" : a;
    const Ran passed = runIesim(working, Stdout::devNull);
    EXPECT_EQ(passed.status, 0) << passed.err;
    EXPECT_EQ(passed.err, "");
  }
}

}  // namespace
