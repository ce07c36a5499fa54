// Bytes from anyone, within the bounds of one run: the fuzzer's seed corpus and every input it
// once found failing (tests/fuzz/regressions) run here in every build, without the fuzzer.
#include "tools/iesim/Untrusted.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace IeSim {
namespace {

// Each file is refused with a message, or runs; none throws, crashes or hangs.
void replay(const char* folder, size_t atLeast) {
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(IE_FUZZ_DIR) / folder)) {
    if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
    ++files;
    const std::string name = entry.path().filename().string();
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    UntrustedOutcome outcome;
    EXPECT_NO_THROW(outcome = runUntrustedScenario(name, bytes, nullptr)) << name;
    if (outcome.kind == UntrustedOutcome::Kind::refused) {
      EXPECT_FALSE(outcome.errors.empty()) << name << " was refused without a word";
    }
  }
  EXPECT_GE(files, atLeast) << folder;
}

TEST(UntrustedTest, TheFuzzerFindingsStayFixed) { replay("regressions", 1); }

TEST(UntrustedTest, TheSeedCorpusRunsOrIsRefusedWithAMessage) { replay("corpus", 40); }

TEST(UntrustedTest, InputsPastTheBoundsAreRefusedWithTheBound) {
  std::string steps;
  for (size_t i = 0; i <= kUntrustedMaxSteps; ++i) steps += "step {}\n";
  for (const auto& [bytes, error] : std::vector<std::pair<std::string, std::string>>{
           {std::string(kUntrustedMaxBytes + 1, ' '), "u: " + std::to_string(kUntrustedMaxBytes + 1) +
                                                          " bytes, more than the " +
                                                          std::to_string(kUntrustedMaxBytes) + " allowed"},
           {steps, "u:" + std::to_string(kUntrustedMaxSteps + 1) + ":1: " + std::to_string(kUntrustedMaxSteps + 1) +
                       " steps, more than the " + std::to_string(kUntrustedMaxSteps) + " allowed"},
       }) {
    const auto outcome = runUntrustedScenario("u", bytes, nullptr);
    EXPECT_EQ(outcome.kind, UntrustedOutcome::Kind::refused);
    EXPECT_EQ(outcome.errors, std::vector<std::string>{error});
  }
  // At the bounds, it runs.
  steps.erase(0, steps.find('\n') + 1);
  EXPECT_EQ(runUntrustedScenario("u", steps, nullptr).kind, UntrustedOutcome::Kind::passed);
}

}  // namespace
}  // namespace IeSim
