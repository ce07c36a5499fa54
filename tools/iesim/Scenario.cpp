#include "tools/iesim/Scenario.h"

#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/text_format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace IeSim {

namespace {

using google::protobuf::TextFormat;

// Keeps the parser's syntax errors (unknown fields among them) with their places.
class Collector : public google::protobuf::io::ErrorCollector {
 public:
  void AddError(int line, google::protobuf::io::ColumnNumber column,
                const std::string& message) override {
    // The parser counts from 0 and gives -1 when it knows no place.
    Location at = line < 0 ? Location{} : Location{line + 1, column + 1};
    errors.push_back({at, message});
  }
  std::vector<RuleError> errors;
};

Location locationOf(const TextFormat::ParseInfoTree& tree, const char* field, int index) {
  const auto* descriptor = iesim::pb::Scenario::descriptor()->FindFieldByName(field);
  auto loc = tree.GetLocation(descriptor, index);
  if (loc.line < 0) return {};
  return {loc.line + 1, loc.column + 1};
}

// The place of each expectation of step `index`, when it is an expect step.
std::map<int, Location> expectationsOf(const TextFormat::ParseInfoTree& tree, const iesim::pb::Step& step,
                                       int index) {
  std::map<int, Location> places;
  if (!step.has_expect()) return places;
  const auto* stepTree = tree.GetTreeForNested(iesim::pb::Scenario::descriptor()->FindFieldByName("step"), index);
  const auto* expectTree =
      stepTree == nullptr ? nullptr : stepTree->GetTreeForNested(iesim::pb::Step::descriptor()->FindFieldByName("expect"), -1);
  if (expectTree == nullptr) return places;
  const auto* descriptor = iesim::pb::Expect::descriptor();
  for (int f = 0; f < descriptor->field_count(); ++f) {
    const auto loc = expectTree->GetLocation(descriptor->field(f), -1);
    if (loc.line >= 0) places[descriptor->field(f)->number()] = {loc.line + 1, loc.column + 1};
  }
  return places;
}

std::vector<std::string> located(std::string_view file, std::vector<RuleError> errors) {
  std::stable_sort(errors.begin(), errors.end(),
                   [](const RuleError& a, const RuleError& b) { return a.at < b.at; });
  std::vector<std::string> out;
  out.reserve(errors.size());
  for (const auto& e : errors) out.push_back(locate(file, e.at, e.message));
  return out;
}

}  // namespace

LoadResult loadScenarioText(std::string_view file, std::string_view text) {
  LoadResult result;
  LoadedScenario loaded;
  loaded.file = std::string(file);

  Collector collector;
  TextFormat::ParseInfoTree tree;
  TextFormat::Parser parser;
  parser.RecordErrorsTo(&collector);
  parser.WriteLocationsTo(&tree);
  if (!parser.ParseFromString(std::string(text), &loaded.scenario)) {
    if (collector.errors.empty()) collector.errors.push_back({{}, "the scenario does not parse"});
    result.errors = located(file, std::move(collector.errors));
    return result;
  }

  std::vector<RuleError> errors;
  checkFieldRules(loaded.scenario, &tree, Location{1, 1}, "scenario", errors);
  if (!errors.empty()) {
    result.errors = located(file, std::move(errors));
    return result;
  }

  if (loaded.scenario.has_initial()) loaded.initial = locationOf(tree, "initial", -1);
  for (int i = 0; i < loaded.scenario.step_size(); ++i) {
    loaded.steps.push_back(locationOf(tree, "step", i));
    loaded.expectations.push_back(expectationsOf(tree, loaded.scenario.step(i), i));
  }
  result.scenario = std::move(loaded);
  return result;
}

LoadResult loadScenarioFile(const std::string& path) {
  auto refused = [&](const std::string& why) {
    LoadResult result;
    result.errors.push_back(locate(path, {}, "cannot read: " + why));
    return result;
  };
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return refused("it is a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) return refused(std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  return loadScenarioText(path, text.str());
}

}  // namespace IeSim
