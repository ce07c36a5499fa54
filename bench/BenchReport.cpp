// ie_bench_report: prints the results of Google Benchmark programs as a table, then the ratios
// that ratio files declare.
//
//   ie_bench_report [--ratios FILE]... RESULT.json...
//
// RESULT.json is a program's --benchmark_format=json output. A ratio file has one figure a line
// (blank lines and lines starting with '#' are skipped):
//
//   LABEL | VALUE [| VALUE] [| CHECK]
//
// One VALUE prints that value; two print the first over the second. A VALUE is BENCHMARK@FIELD:
// the benchmark's name without its run options ("BM_Restart/1000", not
// "BM_Restart/1000/min_time:0.300/manual_time") and a counter, or real_time or cpu_time (in the
// benchmark's time unit). A CHECK is an operator (==, <=, >=, <, >) and a number, tested on the
// figure. A figure whose benchmark did not run (filtered out, or failed) prints as "n/a".
//
// Exit status: 0; 1 when a file cannot be read or parsed, a ratio line is malformed, a benchmark
// reported an error, or a check fails.
#include <fmt/format.h>
#include <google/protobuf/struct.pb.h>
#include <google/protobuf/util/json_util.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using google::protobuf::Struct;
using google::protobuf::Value;

struct Run {
  std::string key;  // the name without run options
  std::string unit;
  double iterations = 0;
  std::map<std::string, double> fields;  // real_time, cpu_time and the counters
  std::string error;
};

struct Program {
  std::string file;
  std::string executable;
  std::vector<Run> runs;
};

// Segments that Google Benchmark appends to a name for run options.
constexpr std::array<std::string_view, 8> kOptionPrefixes = {
    "min_time:", "min_warmup_time:", "iterations:", "repeats:",
    "threads:",  "manual_time",      "real_time",   "process_time"};

std::string keyOf(std::string name) {
  while (true) {
    const auto slash = name.rfind('/');
    if (slash == std::string::npos) return name;
    const std::string_view last = std::string_view(name).substr(slash + 1);
    const bool option = std::any_of(kOptionPrefixes.begin(), kOptionPrefixes.end(),
                                    [&](std::string_view p) { return last.starts_with(p); });
    if (!option) return name;
    name.resize(slash);
  }
}

// Fields that describe the run rather than measure it.
const std::set<std::string, std::less<>> kBookkeeping = {
    "name",        "family_index", "per_family_instance_index", "run_name", "run_type",
    "repetitions", "repetition_index", "threads", "iterations", "time_unit",
    "label",       "error_occurred", "error_message", "aggregate_name", "aggregate_unit",
    "items_per_second", "bytes_per_second"};

std::string text(const Struct& s, const std::string& field) {
  auto it = s.fields().find(field);
  return it != s.fields().end() && it->second.has_string_value() ? it->second.string_value() : "";
}

std::optional<Program> load(const std::string& file, std::string& problem) {
  std::ifstream in(file);
  if (!in) {
    problem = "cannot read " + file;
    return std::nullopt;
  }
  std::stringstream content;
  content << in.rdbuf();
  Struct root;
  const auto status = google::protobuf::util::JsonStringToMessage(content.str(), &root);
  if (!status.ok()) {
    problem = file + " is not a benchmark result: " + status.ToString();
    return std::nullopt;
  }
  Program p;
  p.file = file;
  if (auto ctx = root.fields().find("context"); ctx != root.fields().end()) {
    p.executable = text(ctx->second.struct_value(), "executable");
  }
  auto list = root.fields().find("benchmarks");
  if (list == root.fields().end()) return p;
  for (const Value& v : list->second.list_value().values()) {
    const Struct& b = v.struct_value();
    Run r;
    r.key = keyOf(text(b, "name"));
    r.unit = text(b, "time_unit");
    r.error = text(b, "error_message");
    for (const auto& [name, value] : b.fields()) {
      if (name == "iterations") r.iterations = value.number_value();
      if (!value.has_number_value() || kBookkeeping.contains(name)) continue;
      r.fields[name] = value.number_value();
    }
    p.runs.push_back(std::move(r));
  }
  return p;
}

// A readable number: about four significant digits, no exponent for everyday magnitudes.
std::string number(double v) {
  const double a = std::fabs(v);
  if (a >= 1e7) return fmt::format("{:.3e}", v);
  if (a >= 100 || a == 0) return fmt::format("{:.0f}", v);
  if (a >= 10) return fmt::format("{:.1f}", v);
  if (a >= 1) return fmt::format("{:.2f}", v);
  return fmt::format("{:.3g}", v);
}

bool printTable(const std::vector<Program>& programs) {
  bool ok = true;
  size_t width = 0;
  for (const auto& p : programs) {
    for (const auto& r : p.runs) width = std::max(width, r.key.size());
  }
  for (const auto& p : programs) {
    fmt::print("\n{}\n", p.executable.empty() ? p.file : p.executable);
    fmt::print("  {:<{}}  {:>12}  {:>10}  {}\n", "benchmark", width, "time/iter", "iterations",
               "counters");
    for (const auto& r : p.runs) {
      if (!r.error.empty()) {
        fmt::print("  {:<{}}  ERROR: {}\n", r.key, width, r.error);
        ok = false;
        continue;
      }
      std::string counters;
      for (const auto& [name, value] : r.fields) {
        if (name == "real_time" || name == "cpu_time") continue;
        counters += fmt::format("{}{}={}", counters.empty() ? "" : "  ", name, number(value));
      }
      const auto time = r.fields.find("real_time");
      const std::string shown =
          time == r.fields.end() ? "-" : number(time->second) + " " + r.unit;
      fmt::print("  {:<{}}  {:>12}  {:>10.0f}  {}\n", r.key, width, shown, r.iterations, counters);
    }
  }
  return ok;
}

std::string trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return "";
  const auto last = s.find_last_not_of(" \t\r");
  return std::string(s.substr(first, last - first + 1));
}

std::vector<std::string> split(std::string_view line) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const auto bar = line.find('|', start);
    parts.push_back(trimmed(line.substr(start, bar - start)));
    if (bar == std::string_view::npos) return parts;
    start = bar + 1;
  }
}

// The value that `ref` (BENCHMARK@FIELD) names, if that benchmark ran and has that field.
std::optional<double> lookup(const std::vector<Program>& programs, const std::string& ref) {
  const auto at = ref.rfind('@');
  const std::string key = ref.substr(0, at);
  const std::string field = at == std::string::npos ? "real_time" : ref.substr(at + 1);
  for (const auto& p : programs) {
    for (const auto& r : p.runs) {
      if (r.key != key || !r.error.empty()) continue;
      auto f = r.fields.find(field);
      if (f != r.fields.end()) return f->second;
    }
  }
  return std::nullopt;
}

struct Check {
  std::string op;
  double bound = 0;
  bool holds(double v) const {
    if (op == "==") return v == bound;
    if (op == "<=") return v <= bound;
    if (op == ">=") return v >= bound;
    if (op == "<") return v < bound;
    return v > bound;
  }
};

std::optional<Check> parseCheck(const std::string& s) {
  for (std::string_view op : {"==", "<=", ">=", "<", ">"}) {
    if (!s.starts_with(op)) continue;
    try {
      size_t used = 0;
      const std::string rest = trimmed(std::string_view(s).substr(op.size()));
      const double bound = std::stod(rest, &used);
      if (used == rest.size()) return Check{std::string(op), bound};
    } catch (const std::exception&) {
    }
    return std::nullopt;
  }
  return std::nullopt;
}

// One line of a ratio file.
struct Figure {
  std::string group;  // the ratio file's name without folder and extension
  std::string label;
  std::vector<std::string> refs;  // one value, or numerator and denominator
  std::optional<Check> check;
};

// Appends the figures of `file` to `out`; false (with a message) on a malformed file.
bool readFigures(const std::string& file, std::vector<Figure>& out) {
  std::ifstream in(file);
  if (!in) {
    fmt::print(stderr, "ie_bench_report: cannot read {}\n", file);
    return false;
  }
  bool ok = true;
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    const std::string t = trimmed(line);
    if (t.empty() || t.starts_with('#')) continue;
    auto parts = split(t);
    Figure f;
    if (parts.size() > 2 && !parts.back().empty() &&
        std::string_view("=<>").find(parts.back()[0]) != std::string_view::npos) {
      f.check = parseCheck(parts.back());
      if (!f.check) {
        fmt::print(stderr, "ie_bench_report: {}:{}: bad check \"{}\"\n", file, lineNo,
                   parts.back());
        ok = false;
        continue;
      }
      parts.pop_back();
    }
    const bool emptyRef =
        std::any_of(parts.begin() + std::min<size_t>(1, parts.size()), parts.end(),
                    [](const std::string& r) { return r.empty(); });
    if (parts.size() < 2 || parts.size() > 3 || emptyRef) {
      fmt::print(stderr, "ie_bench_report: {}:{}: expected LABEL | VALUE [| VALUE] [| CHECK]\n",
                 file, lineNo);
      ok = false;
      continue;
    }
    f.group = std::filesystem::path(file).stem().string();
    f.label = parts[0];
    f.refs.assign(parts.begin() + 1, parts.end());
    out.push_back(std::move(f));
  }
  return ok;
}

// Prints every figure; false when a check fails.
bool printFigures(const std::vector<Program>& programs, const std::vector<Figure>& figures) {
  size_t width = 0;
  for (const auto& f : figures) width = std::max(width, f.label.size());
  bool ok = true;
  const std::string* group = nullptr;
  for (const auto& f : figures) {
    if (!group || *group != f.group) {
      group = &f.group;
      fmt::print("\n{}\n", f.group);
    }
    const auto num = lookup(programs, f.refs[0]);
    const auto den = f.refs.size() == 2 ? lookup(programs, f.refs[1]) : std::optional<double>(1.0);
    if (!num || !den || *den == 0) {
      fmt::print("  {:<{}}  {:>10}\n", f.label, width, "n/a");
      continue;
    }
    const double value = *num / *den;
    std::string detail;
    if (f.refs.size() == 2) detail = fmt::format("  ({} / {})", number(*num), number(*den));
    if (f.check) {
      const bool holds = f.check->holds(value);
      detail += fmt::format("  [{}{} {}]", holds ? "ok: " : "FAILED: ", f.check->op,
                            number(f.check->bound));
      ok = ok && holds;
    }
    fmt::print("  {:<{}}  {:>10}{}\n", f.label, width, number(value), detail);
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> ratioFiles;
  std::vector<Program> programs;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--ratios" && i + 1 < argc) {
      ratioFiles.emplace_back(argv[++i]);
      continue;
    }
    std::string problem;
    if (auto p = load(arg, problem)) {
      programs.push_back(std::move(*p));
    } else {
      fmt::print(stderr, "ie_bench_report: {}\n", problem);
      ok = false;
    }
  }
  if (programs.empty() && ratioFiles.empty()) {
    fmt::print(stderr, "usage: ie_bench_report [--ratios FILE]... RESULT.json...\n");
    return 1;
  }
  ok = printTable(programs) && ok;
  std::vector<Figure> figures;
  for (const auto& f : ratioFiles) ok = readFigures(f, figures) && ok;
  if (!figures.empty()) {
    fmt::print("\nFigures and ratios\n==================\n");
    ok = printFigures(programs, figures) && ok;
  }
  return ok ? 0 : 1;
}
