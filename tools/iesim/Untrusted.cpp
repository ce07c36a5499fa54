#include "tools/iesim/Untrusted.h"

#include <fmt/format.h>

#include "platform/mica/Assert.h"
#include "tools/iesim/Report.h"
#include "tools/iesim/Runner.h"
#include "tools/iesim/Rules.h"
#include "tools/iesim/Scenario.h"

namespace IeSim {

UntrustedOutcome runUntrustedScenario(std::string_view name, std::string_view bytes,
                                      std::FILE* report) {
  UntrustedOutcome outcome;
  if (bytes.size() > kUntrustedMaxBytes) {
    outcome.errors.push_back(locate(name, {}, fmt::format("{} bytes, more than the {} allowed",
                                                          bytes.size(), kUntrustedMaxBytes)));
    return outcome;
  }
  LoadResult loaded = loadScenarioText(name, bytes);
  if (!loaded.scenario) {
    outcome.errors = std::move(loaded.errors);
    return outcome;
  }
  const auto& steps = loaded.scenario->scenario.step();
  if (static_cast<size_t>(steps.size()) > kUntrustedMaxSteps) {
    outcome.errors.push_back(locate(name, loaded.scenario->steps[kUntrustedMaxSteps],
                                    fmt::format("{} steps, more than the {} allowed", steps.size(),
                                                kUntrustedMaxSteps)));
    return outcome;
  }
  Mica::ThrowingAssertions throwing;
  Report sink(report, report != nullptr, Report::Detail{true, true, true});
  const auto result = runScenario(*loaded.scenario, RunOptions{}, sink);
  outcome.kind = result.passed() ? UntrustedOutcome::Kind::passed : UntrustedOutcome::Kind::failed;
  return outcome;
}

}  // namespace IeSim
