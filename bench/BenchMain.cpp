// main() of every benchmark program (see BenchSupport.h).
#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "platform/trace/Blip.h"

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // A production agent runs with the ring off; TraceBench measures a record separately.
  Blip::defaultHandle()->enabledIs(false);
  benchmark::RunSpecifiedBenchmarks();
  IeBench::runTeardowns();
  benchmark::Shutdown();
  return 0;
}
