#include "tools/iesim/Scenario.h"

#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/text_format.h>

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

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

// Parses `text` into `message`, recording syntax errors in `errors` and, when `tree` is set,
// the place of every field.
bool parse(std::string_view text, google::protobuf::Message& message, Collector& errors,
           TextFormat::ParseInfoTree* tree, bool lenient = false) {
  TextFormat::Parser parser;
  parser.RecordErrorsTo(&errors);
  if (tree != nullptr) parser.WriteLocationsTo(tree);
  parser.AllowUnknownField(lenient);
  google::protobuf::io::ArrayInputStream in(text.data(), static_cast<int>(text.size()));
  return parser.Parse(&in, &message);
}

// The rule errors of `text`, a scenario that parsed, with the place of each: read again with
// every place recorded, which a valid scenario never needs. `unlocated` are the errors found
// without places; they stand if the second reading fails, which the same parser never does.
std::vector<RuleError> locatedRuleErrors(std::string_view text, std::vector<RuleError> unlocated) {
  iesim::pb::Scenario scenario;
  TextFormat::ParseInfoTree tree;
  Collector ignored;
  if (!parse(text, scenario, ignored, &tree)) return unlocated;
  std::vector<RuleError> errors;
  checkFieldRules(scenario, &tree, Location{1, 1}, "scenario", errors);
  return errors;
}

// Where the body of the top-level `initial` block lies in `text`, a file that parsed:
// [first byte after its opening brace, its closing brace). Nothing when there is none, or when
// the scan meets anything it does not expect (then the lenient reading takes the whole text).
// The scan knows only what can hide a brace: '#' comments and quoted strings.
class InitialBodyScan {
 public:
  explicit InitialBodyScan(std::string_view text) : t_(text) {}

  std::optional<std::pair<size_t, size_t>> find() const {
    bool afterColon = false;  // a word after ':' is a value, not a field name
    int depth = 0;
    size_t body = npos;  // where the body begins, once its opening brace is next
    for (size_t i = skip(0); i < t_.size(); i = skip(i)) {
      const char c = t_[i];
      if (c == '"' || c == '\'') {
        i = stringEnd(i);
        if (i == npos) return std::nullopt;
      } else if (c == '{' || c == '<') {
        ++depth;
        ++i;
      } else if (c == '}' || c == '>') {
        if (--depth < 0) return std::nullopt;
        if (depth == 0 && body != npos) return std::pair{body, i};
        ++i;
      } else if (isWord(c)) {
        size_t end = i;
        while (end < t_.size() && isWord(t_[end])) ++end;
        if (depth == 0 && !afterColon && t_.substr(i, end - i) == "initial") {
          body = openingBraceAfter(end);
          if (body == npos) return std::nullopt;
        }
        i = end;
      } else {
        ++i;
      }
      afterColon = c == ':';
    }
    return std::nullopt;
  }

 private:
  static constexpr size_t npos = std::string_view::npos;
  static bool isWord(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  }
  // The first byte from `at` that is neither a blank nor in a comment (or the end).
  size_t skip(size_t at) const {
    while (at < t_.size()) {
      const char c = t_[at];
      if (c == '#') {
        at = t_.find('\n', at);
        if (at == npos) return t_.size();
      } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
        ++at;
      } else {
        break;
      }
    }
    return at;
  }
  // Just past the string that opens at `at`; npos when it does not close on its line.
  size_t stringEnd(size_t at) const {
    const char quote = t_[at];
    for (size_t i = at + 1; i < t_.size(); ++i) {
      if (t_[i] == '\\') {
        ++i;
      } else if (t_[i] == '\n') {
        return npos;
      } else if (t_[i] == quote) {
        return i + 1;
      }
    }
    return npos;
  }
  // Just past the opening brace of the block whose field name ends at `at` ("initial {" or
  // "initial: <"); npos when no brace follows.
  size_t openingBraceAfter(size_t at) const {
    size_t i = skip(at);
    if (i < t_.size() && t_[i] == ':') i = skip(i + 1);
    if (i >= t_.size() || (t_[i] != '{' && t_[i] != '<')) return npos;
    return i + 1;
  }

  std::string_view t_;
};

// The text of the lenient reading: the body of the top-level `initial` block, which that reading
// only skips (a million bindings, token by token), is reduced to its line breaks, and its last
// line to blanks, so that every other byte keeps its line and column. Empty when there is no
// such block: the reading then takes the text as it is.
std::string outlineText(std::string_view text) {
  const auto body = InitialBodyScan(text).find();
  if (!body) return {};
  const auto [start, end] = *body;
  const std::string_view inside = text.substr(start, end - start);
  const size_t lastBreak = inside.rfind('\n');
  const std::string_view lastLine = lastBreak == std::string_view::npos ? inside : inside.substr(lastBreak + 1);
  std::string out(text.substr(0, start));
  out.append(static_cast<size_t>(std::count(inside.begin(), inside.end(), '\n')), '\n');
  for (const char c : lastLine) out.push_back(c == '\t' ? '\t' : ' ');  // tabs move columns
  out.append(text.substr(end));
  return out;
}

Location locationOf(const TextFormat::ParseInfoTree& tree, const char* field, int index) {
  const auto* descriptor = iesim::pb::ScenarioPlaces::descriptor()->FindFieldByName(field);
  auto loc = tree.GetLocation(descriptor, index);
  if (loc.line < 0) return {};
  return {loc.line + 1, loc.column + 1};
}

// The place of each expectation of step `index`, when it is an expect step.
std::map<int, Location> expectationsOf(const TextFormat::ParseInfoTree& tree, const iesim::pb::Step& step,
                                       int index) {
  std::map<int, Location> places;
  if (!step.has_expect()) return places;
  const auto* stepTree =
      tree.GetTreeForNested(iesim::pb::ScenarioPlaces::descriptor()->FindFieldByName("step"), index);
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

const char* fileKind(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a file";
}

}  // namespace

LoadResult loadScenarioText(std::string_view file, std::string_view text) {
  const RunClock clock;
  LoadResult result;
  LoadedScenario loaded;
  loaded.file = std::string(file);

  // Read without places first: the parser's syntax errors carry their own, and the places of a
  // million bindings would cost more memory than the library's state for them.
  Collector collector;
  if (!parse(text, loaded.scenario, collector, nullptr)) {
    if (collector.errors.empty()) collector.errors.push_back({{}, "the scenario does not parse"});
    result.errors = located(file, std::move(collector.errors));
    return result;
  }

  std::vector<RuleError> errors;
  checkFieldRules(loaded.scenario, nullptr, Location{1, 1}, "scenario", errors);
  if (!errors.empty()) {
    result.errors = located(file, locatedRuleErrors(text, std::move(errors)));
    return result;
  }

  if (loaded.scenario.step_size() == 0) {
    result.errors.push_back(
        locate(file, {}, "no step: a scenario needs at least one, else it checks nothing"));
    return result;
  }

  // The places the report and the expectations use, from the lenient reading.
  iesim::pb::ScenarioPlaces outline;
  TextFormat::ParseInfoTree tree;
  Collector lenientErrors;
  const std::string shortened = outlineText(text);
  if (!parse(shortened.empty() ? text : std::string_view(shortened), outline, lenientErrors, &tree, true)) {
    result.errors.push_back(locate(file, lenientErrors.errors.empty() ? Location{} : lenientErrors.errors.front().at,
                                   fmt::format("the places of the steps cannot be read: {}",
                                               lenientErrors.errors.empty() ? "no reason given"
                                                                      : lenientErrors.errors.front().message)));
    return result;
  }
  if (loaded.scenario.has_initial()) loaded.initial = locationOf(tree, "initial", -1);
  for (int i = 0; i < loaded.scenario.step_size(); ++i) {
    loaded.steps.push_back(locationOf(tree, "step", i));
    loaded.expectations.push_back(expectationsOf(tree, loaded.scenario.step(i), i));
  }
  loaded.load = clock.elapsed();
  result.scenario = std::move(loaded);
  return result;
}

LoadResult loadScenarioFile(const std::string& path) {
  const RunClock clock;
  auto refused = [&](const std::string& why) {
    LoadResult result;
    result.errors.push_back(locate(path, {}, "cannot read: " + why));
    return result;
  };
  // Non-blocking, so that opening a FIFO without a writer does not wait; what is not a regular
  // file is refused before a byte is read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return refused(std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return refused(std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return refused("it is a directory");
  if (!S_ISREG(st.st_mode)) return refused(fmt::format("not a regular file ({})", fileKind(st.st_mode)));
  if (static_cast<uint64_t>(st.st_size) > kMaxScenarioBytes) {
    return refused(fmt::format("{} bytes, at most {} allowed", st.st_size, kMaxScenarioBytes));
  }
  // The size may change while it is read (or be 0 for a file the kernel makes up): read at most
  // one byte past the limit.
  std::string text;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return refused(std::strerror(errno));
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxScenarioBytes) {
      return refused(fmt::format("more than {} bytes, at most {} allowed", kMaxScenarioBytes,
                                 kMaxScenarioBytes));
    }
  }
  LoadResult result = loadScenarioText(path, text);
  if (result.scenario) result.scenario->load = clock.elapsed();
  return result;
}

}  // namespace IeSim
