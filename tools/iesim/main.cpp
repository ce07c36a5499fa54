// iesim: runs scenarios through the internet-exit library and reports what changed and why.
//
//   iesim [FILE...] [--trace NAME=LEVELS]... [--trace-file FILE] [--yield POLICY]
//         [--blip FILE] [--chrome-trace FILE] [--dump] [--tasks] [--upstream] [--tables]
//         [--explain VNI.LANE[@STEP]]... [--quiet]
//   iesim --print-default | --version | --help
//
// Exit status: 0 when every scenario passed, 1 when an expectation failed or the library raised
// an assertion, 2 when a scenario file or an argument is invalid, 3 when an output could not be
// written (a full disk, a closed pipe).
#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/keel/Task.h"
#include "platform/mica/Assert.h"
#include "platform/trace/Blip.h"
#include "platform/trace/Trace.h"
#include "tools/iesim/ChromeTrace.h"
#include "tools/iesim/DefaultScenario.h"
#include "tools/iesim/Explain.h"
#include "tools/iesim/Outputs.h"
#include "tools/iesim/Report.h"
#include "tools/iesim/Runner.h"
#include "tools/iesim/Scenario.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitInvalid = 2;
constexpr int kExitOutput = 3;

// The library's trace handlers, the names --trace takes; a name outside them would switch on
// nothing and say nothing.
constexpr std::string_view kTraceHandlers[] = {"OrbInternetExitStatusSm", "OrbInternetExitUtil",
                                               "OrbSiEdgeHelper", "OrbSiEdgeModule"};

struct Options {
  std::vector<std::string> files;
  std::vector<std::string> traces;
  std::string traceFile;
  size_t traceFrom = 0;
  std::string yield;
  std::string blip;
  std::string chromeTrace;
  std::vector<std::string> explain;
  bool dump = false;
  IeSim::Report::Detail detail;
  bool quiet = false;
};

// A file opened for writing, "-" being stdout; closed when it goes.
class OutFile {
 public:
  explicit OutFile(const std::string& path)
      : file_(path == "-" ? stdout : std::fopen(path.c_str(), "w")), owned_(path != "-") {}
  ~OutFile() {
    if (owned_ && file_ != nullptr) std::fclose(file_);
  }
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;
  std::FILE* get() const noexcept { return file_; }

 private:
  std::FILE* file_;
  bool owned_;
};

void complain(const std::string& text) { fmt::print(stderr, "iesim: {}\n", text); }

// Switches on the levels of each "NAME=LEVELS"; false (after saying why) when one is invalid.
bool enableTraces(const std::vector<std::string>& traces) {
  for (const auto& t : traces) {
    const size_t eq = t.find('=');
    if (eq == std::string::npos || eq == 0) {
      complain(fmt::format("--trace {}: expected NAME=LEVELS, e.g. OrbInternetExitStatusSm=6-9", t));
      return false;
    }
    const std::string_view name = std::string_view(t).substr(0, eq);
    if (std::find(std::begin(kTraceHandlers), std::end(kTraceHandlers), name) ==
        std::end(kTraceHandlers)) {
      complain(fmt::format("--trace {}: no trace handler \"{}\": expected one of {}", t, name,
                           fmt::join(kTraceHandlers, ", ")));
      return false;
    }
    try {
      const uint32_t mask = Mica::parseLevelMask(std::string_view(t).substr(eq + 1));
      Mica::Platform::getDebugHandler(std::string_view(t).substr(0, eq))->levelMaskIs(mask);
    } catch (const std::invalid_argument& e) {
      complain(fmt::format("--trace {}: {}", t, e.what()));
      return false;
    }
  }
  return true;
}

int run(const Options& o) {
  Mica::ThrowingAssertions throwing;

  std::unique_ptr<OutFile> traceOut;
  std::optional<Mica::StreamTraceSink> traceSink;
  if (!o.traceFile.empty()) {
    traceOut = std::make_unique<OutFile>(o.traceFile);
    if (traceOut->get() == nullptr) {
      complain(fmt::format("{}: cannot write: {}", o.traceFile, std::strerror(errno)));
      return kExitInvalid;
    }
    traceSink.emplace(traceOut->get());
    Mica::traceSinkIs(&*traceSink);
  }
  if (!enableTraces(o.traces)) return kExitInvalid;
  if (!o.yield.empty()) {
    try {
      Keel::yieldPolicyFromString(o.yield);
    } catch (const std::invalid_argument& e) {
      complain(fmt::format("--yield: {}", e.what()));
      return kExitInvalid;
    }
  }

  std::vector<IeSim::ExplainRequest> requests;
  for (const auto& text : o.explain) {
    std::string error;
    auto q = IeSim::parseExplainRequest(text, &error);
    if (!q) {
      complain(fmt::format("--explain {}: {}", text, error));
      return kExitInvalid;
    }
    requests.push_back(std::move(*q));
  }

  // The Blip ring is read only by --blip: without it, recording would cost every note a record
  // (about a twelfth of a large scenario's time) for a ring that nobody decodes.
  Blip::defaultHandle()->enabledIs(!o.blip.empty());

  IeSim::ChromeTrace chrome;
  IeSim::Report report(stdout, !o.quiet, o.detail);
  IeSim::Explainer explainer(stdout, stderr, std::move(requests));
  IeSim::Outputs outputs;
  IeSim::RunOptions runOptions{o.yield, o.chromeTrace.empty() ? nullptr : &chrome,
                               o.dump ? stdout : nullptr, explainer.empty() ? nullptr : &explainer,
                               &outputs};
  if (o.traceFrom > 0) {
    std::vector<std::pair<Mica::Ptr<Mica::DebugHandler>, uint32_t>> masks;
    for (const auto name : kTraceHandlers) {
      auto handler = Mica::Platform::getDebugHandler(name);
      masks.emplace_back(handler, handler->levelMask());
    }
    runOptions.traceFromStep = o.traceFrom;
    runOptions.tracesOn = [masks](bool on) {
      for (const auto& m : masks) m.first->levelMaskIs(on ? m.second : 0);
    };
  }
  size_t passed = 0, failed = 0, invalid = 0;
  // The last scenario and its world are left to the process's exit (RunOptions::exitsAfter).
  auto runOne = [&](IeSim::LoadResult loaded, bool last) {
    outputs.guard(IeSim::kFailureOutput, [&] {
      for (const auto& e : loaded.errors) fmt::print(stderr, "{}\n", e);
    });
    if (!loaded.scenario) {
      ++invalid;
      return;
    }
    runOptions.exitsAfter = last;
    const auto result = IeSim::runScenario(std::move(*loaded.scenario), runOptions, report);
    ++(result.passed() ? passed : failed);
  };
  if (o.files.empty()) {
    runOne(IeSim::loadScenarioText(IeSim::kDefaultScenarioName, IeSim::kDefaultScenario), true);
  }
  for (size_t i = 0; i < o.files.size(); ++i) {
    runOne(IeSim::loadScenarioFile(o.files[i]), i + 1 == o.files.size());
  }

  int status = invalid != 0 || explainer.errors() != 0 ? kExitInvalid : failed != 0 ? kExitFailed : 0;
  if (!o.blip.empty()) {
    const std::string name = "--blip " + o.blip;
    OutFile out(o.blip);
    if (out.get() == nullptr) {
      outputs.failed(name, std::strerror(errno));
    } else {
      errno = 0;
      outputs.guard(name, [&] { Blip::defaultHandle()->dump(out.get()); });
      outputs.checkWritten(name, out.get());
    }
  }
  if (!o.chromeTrace.empty()) {
    outputs.writeFile("--chrome-trace " + o.chromeTrace, o.chromeTrace, chrome.json());
  }
  if (!o.quiet && passed + failed + invalid > 1) {
    outputs.guard(IeSim::kReportOutput, [&] {
      fmt::print("{} scenarios: {} passed, {} failed, {} invalid\n", passed + failed + invalid,
                 passed, failed, invalid);
    });
  }
  if (traceSink) {
    Mica::traceSinkIs(nullptr);
    outputs.check("--trace-file " + o.traceFile, traceOut->get());
  }
  outputs.check(IeSim::kReportOutput, stdout);
  outputs.check(IeSim::kFailureOutput, stderr);
  for (const auto& failure : outputs.failures()) complain(failure);
  return outputs.failures().empty() ? status : kExitOutput;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe is a write error to report, not a signal that ends iesim without a word.
  std::signal(SIGPIPE, SIG_IGN);
  CLI::App app{
      "iesim: runs internet-exit scenarios (protobuf text format of proto/scenario.proto) through "
      "the library and reports, per step, what changed and why.\n"
      "Exit status: 0 all passed, 1 an expectation or assertion failed, 2 invalid input, 3 an "
      "output could not be written."};
  Options o;
  app.add_option("FILE", o.files, "Scenario files; none runs the embedded default scenario")
      ->type_name("FILE");
  app.add_option("--trace", o.traces,
                 "Switch on levels of a debug trace handler, e.g. "
                 "OrbInternetExitStatusSm=6-9 (repeatable)")
      ->type_name("NAME=LEVELS")
      ->allow_extra_args(false);
  app.add_option("--trace-from", o.traceFrom,
                 "Switch the --trace levels on at step STEP of each scenario instead of at its start")
      ->check(CLI::PositiveNumber);
  app.add_option("--trace-file", o.traceFile, "Write traces to FILE ('-': stdout) instead of stderr")
      ->type_name("FILE");
  app.add_option("--yield", o.yield,
                 "Default yield policy of scheduler runs: never, always, budget:N, slice:MICROS, "
                 "budget:N+slice:MICROS, random:SEED[:PERCENT] (default budget:1000)")
      ->type_name("POLICY");
  app.add_option("--blip", o.blip, "At the end, dump the Blip ring decoded to FILE ('-': stdout)")
      ->type_name("FILE");
  app.add_option("--chrome-trace", o.chromeTrace,
                 "Write every task run as Chrome trace events (JSON, opens in Perfetto) to FILE")
      ->type_name("FILE");
  app.add_option("--explain", o.explain,
                 "Explain why the pair VNI.LANE exits where it does, at the end or after step STEP "
                 "(0: the start): binding, policy entries, groups and options with the reason of "
                 "each result, winner, exit interfaces, data path, and the step that last changed it "
                 "(repeatable; printed also with --quiet)")
      ->type_name("VNI.LANE[@STEP]")
      ->allow_extra_args(false);
  app.add_flag("--dump", o.dump,
               "At the end of each scenario, print the outputs in full, then the dumpState of the "
               "engine, of the default-route trackers' outputs, of the module and of its data path");
  app.add_flag("--tasks", o.detail.tasks, "Per step, also list the tasks that ran, per state machine");
  app.add_flag("--upstream", o.detail.upstream,
               "Per step, list the changes of the outputs upstream of the exit groups (polToVniLane, "
               "statusConfig, groupToPolicy, the default-route sets, exitOption, resolverRequest) "
               "instead of counting them");
  app.add_flag("--timing", o.detail.timing,
               "Per step, also show the wall-clock and CPU time it took; at the end the whole run's "
               "(reading the file included) and the peak RSS");
  app.add_flag("--tables", o.detail.tables,
               "At the end of each scenario, show every table (pairs, status configuration, reverse "
               "map, engine, exit options, gates), not only exit groups, policies and the data path");
  app.add_flag("-q,--quiet", o.quiet, "No report; failures still go to stderr");
  bool printDefault = false;
  app.add_flag("--print-default", printDefault,
               "Print the embedded default scenario, a scenario file to start from, and exit");
  app.set_version_flag("--version", std::string("iesim ") + IESIM_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitInvalid;
  }
  if (printDefault) {
    // The text starts with the newline after the raw string's delimiter.
    fmt::print("{}", IeSim::kDefaultScenario.substr(IeSim::kDefaultScenario.find_first_not_of('\n')));
    return 0;
  }
  return run(o);
}
