// The whole library against the reference over random sequences of input changes, restarts of
// any subset of the state machines at any point (mid-scan, mid-reconciliation) and any yield
// policy. A failure prints RapidCheck's seed and writes the shrunk sequence as a scenario file
// that iesim replays.
#include <fmt/format.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/mica/Assert.h"
#include "tests/support/MemoryFile.h"
#include "tests/oracle/Generators.h"
#include "tests/oracle/SequenceRunner.h"
#include "tools/iesim/Runner.h"
#include "tools/iesim/Scenario.h"

namespace IeOracle {
namespace {

#ifndef IE_ORACLE_DEFAULT_SEQUENCES
#define IE_ORACLE_DEFAULT_SEQUENCES 10000
#endif

int sequencesPerRun() {
  if (const char* n = std::getenv("IE_ORACLE_SEQUENCES")) return std::max(1, std::atoi(n));
  return IE_ORACLE_DEFAULT_SEQUENCES;
}

// Where a failing sequence is written: IE_ORACLE_FAILURE, else oracle_failure.textproto in the
// working directory.
std::filesystem::path failurePath() {
  const char* p = std::getenv("IE_ORACLE_FAILURE");
  return std::filesystem::absolute(p ? p : "oracle_failure.textproto");
}

struct Totals {
  size_t sequences = 0;
  size_t steps = 0;
  size_t skipped = 0;
  size_t quiescentChecks = 0;
  size_t quietRestarts = 0;
};

TEST(ChainOracleTest, RandomSequencesWithRestartsEqualTheReference) {
  Mica::ThrowingAssertions throwing;
  rc::detail::TestParams params = rc::detail::configuration().testParams;
  params.maxSuccess = sequencesPerRun();
  rc::detail::TestMetadata metadata{"ChainOracleTest/RandomSequencesWithRestartsEqualTheReference", "whole chain"};
  Totals totals;
  const auto started = std::chrono::steady_clock::now();
  const auto result = rc::detail::checkTestable(
      [&] {
        const Sequence sequence = *genSequence();
        const SequenceOutcome outcome = runSequence(sequence);
        ++totals.sequences;
        totals.steps += outcome.executed.size();
        totals.skipped += outcome.skipped;
        totals.quiescentChecks += outcome.quiescentChecks;
        totals.quietRestarts += outcome.quietRestarts;
        if (!outcome.failure.empty()) {
          // Shrinking reruns failing candidates; the last one written is the smallest.
          std::ofstream(failurePath()) << scenarioText(scenarioOf(sequence, outcome));
          RC_FAIL(outcome.failure);
        }
      },
      metadata, params);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  fmt::print("oracle: {} sequences ({} steps run, {} outside the domain skipped, {} quiescent points compared, {} restarts "
             "over unchanged inputs) in {:.1f} s\n",
             totals.sequences, totals.steps, totals.skipped, totals.quiescentChecks, totals.quietRestarts, seconds);
  if (!result.is<rc::detail::SuccessResult>()) {
    std::ostringstream message;
    rc::detail::printResultMessage(result, message);
    FAIL() << message.str() << "\nseed: " << params.seed << " (rerun with RC_PARAMS=\"seed=" << params.seed
           << "\")\nshrunk scenario: " << failurePath().string() << " (replay: iesim " << failurePath().string() << ")";
  }
  EXPECT_GT(totals.quiescentChecks, totals.sequences);  // every sequence reaches at least two
}

// A generated sequence, written as a scenario, loads back through iesim's parser unchanged and
// replays to the same end state.
RC_GTEST_PROP(ChainOracleScenarioTest, GeneratedSequencesRoundTripThroughTheScenarioParser, ()) {
  Mica::ThrowingAssertions throwing;
  const Sequence sequence = *genSequence();
  IeTest::MemoryFile ours, replayed;
  const SequenceOutcome outcome = runSequence(sequence, RunSettings{.domainOnly = true, .endState = ours.get()});
  RC_ASSERT(outcome.failure == std::string());
  const iesim::pb::Scenario scenario = scenarioOf(sequence, outcome);

  const IeSim::LoadResult loaded = IeSim::loadScenarioText("generated.textproto", scenarioText(scenario));
  std::string errors;
  for (const auto& e : loaded.errors) errors += e + "\n";
  RC_ASSERT(errors == std::string());
  RC_ASSERT(loaded.scenario.has_value());
  RC_ASSERT(google::protobuf::util::MessageDifferencer::Equals(loaded.scenario->scenario, scenario));

  IeSim::Report quiet(stdout, false);
  const IeSim::ScenarioResult replay = IeSim::runScenario(*loaded.scenario, IeSim::RunOptions{.defaultYield = "", .chrome = nullptr, .dump = replayed.get()}, quiet);
  RC_ASSERT(replay.passed());
  RC_ASSERT(replay.steps == outcome.executed.size());
  const std::string a = ours.text(), b = replayed.text();
  RC_ASSERT(a == b);
  RC_ASSERT(!a.empty());
}

}  // namespace
}  // namespace IeOracle
