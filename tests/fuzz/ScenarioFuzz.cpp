// libFuzzer target: any bytes, loaded and run as a scenario file, are refused with a message or
// run to their end; nothing crashes, hangs or exhausts memory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "tools/iesim/Untrusted.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The full report is written, so that the report's code is fuzzed too, and thrown away.
  static std::FILE* const devNull = std::fopen("/dev/null", "w");
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto outcome = IeSim::runUntrustedScenario("<fuzz>", bytes, devNull);
  // A refusal without a message would leave a user guessing.
  if (outcome.kind == IeSim::UntrustedOutcome::Kind::refused && outcome.errors.empty()) std::abort();
  return 0;
}
