#include <charconv>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>

#include "platform/keel/Task.h"

namespace Keel {

namespace {

class NeverYield final : public YieldPolicy {
 public:
  bool shouldYield(const Task&) override { return false; }
  std::string describe() const override { return "never"; }
};

class AlwaysYield final : public YieldPolicy {
 public:
  bool shouldYield(const Task&) override { return true; }
  std::string describe() const override { return "always"; }
};

class WorkBudget final : public YieldPolicy {
 public:
  explicit WorkBudget(uint64_t budget) : budget_(budget) {}
  bool shouldYield(const Task& task) override { return task.workDone() >= budget_; }
  std::string describe() const override { return "budget:" + std::to_string(budget_); }

 private:
  uint64_t budget_;
};

// Measures from the task's own run start, so that a run nested in another (a task created
// during a run) does not restart the outer run's slice.
class TimeSlice final : public YieldPolicy {
 public:
  explicit TimeSlice(uint64_t micros)
      : micros_(micros),
        nanos_(micros > std::numeric_limits<uint64_t>::max() / 1000
                   ? std::numeric_limits<uint64_t>::max()
                   : micros * 1000) {}
  bool shouldYield(const Task& task) override {
    return steadyNanos() - task.taskRunStartNanos() >= nanos_;
  }
  std::string describe() const override { return "slice:" + std::to_string(micros_); }

 private:
  uint64_t micros_;
  uint64_t nanos_;
};

// Yields when the work budget is used, or when the run has lasted the slice, whichever comes
// first. The clock is read once per kClockEvery units of work at most: a question costs a few
// nanoseconds and a clock read some twenty, while a scan that asks after every element of a
// unit each would otherwise read it a thousand times a run. An element of many units (one
// binding whose pair the whole chain then handles) gets a clock read at every question.
class BudgetOrSlice final : public YieldPolicy {
 public:
  static constexpr uint64_t kClockEvery = 16;
  BudgetOrSlice(uint64_t budget, uint64_t micros) : budget_(budget), slice_(micros) {}
  void runStarted() override { nextClockRead_ = kClockEvery; }
  bool shouldYield(const Task& task) override {
    if (budget_.shouldYield(task)) return true;
    if (task.workDone() < nextClockRead_) return false;
    nextClockRead_ = task.workDone() + kClockEvery;
    return slice_.shouldYield(task);
  }
  std::string describe() const override { return budget_.describe() + "+" + slice_.describe(); }

 private:
  WorkBudget budget_;
  TimeSlice slice_;
  uint64_t nextClockRead_ = kClockEvery;
};

// Draws straight from the engine (no std::uniform_int_distribution, whose output differs between
// standard libraries), so a seed replays the same answers everywhere.
class SeededRandom final : public YieldPolicy {
 public:
  SeededRandom(uint64_t seed, unsigned percent) : seed_(seed), percent_(percent), engine_(seed) {}
  bool shouldYield(const Task&) override { return engine_() % 100 < percent_; }
  std::string describe() const override {
    return "random:" + std::to_string(seed_) + ":" + std::to_string(percent_);
  }

 private:
  uint64_t seed_;
  unsigned percent_;
  std::mt19937_64 engine_;
};

constexpr const char* kPolicyForms =
    "expected never, always, budget:N, slice:MICROS, budget:N+slice:MICROS or random:SEED[:PERCENT]";

[[noreturn]] void badPolicy(std::string_view text, std::string_view why) {
  throw std::invalid_argument("invalid yield policy \"" + std::string(text) + "\": " +
                              std::string(why));
}

// Accepts a whole unsigned decimal number and nothing else (no sign, blanks or suffix).
bool parseNumber(std::string_view s, uint64_t& out) {
  if (s.empty()) return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

uint64_t numberOrThrow(std::string_view text, std::string_view part) {
  uint64_t n = 0;
  if (!parseNumber(part, n)) badPolicy(text, kPolicyForms);
  return n;
}

}  // namespace

std::unique_ptr<YieldPolicy> neverYield() { return std::make_unique<NeverYield>(); }

std::unique_ptr<YieldPolicy> workBudget(uint64_t budget) {
  return std::make_unique<WorkBudget>(budget);
}

std::unique_ptr<YieldPolicy> timeSlice(uint64_t micros) {
  return std::make_unique<TimeSlice>(micros);
}

std::unique_ptr<YieldPolicy> budgetOrSlice(uint64_t budget, uint64_t micros) {
  return std::make_unique<BudgetOrSlice>(budget, micros);
}

std::unique_ptr<YieldPolicy> defaultYieldPolicy() {
  return budgetOrSlice(kDefaultWorkBudget, kDefaultSliceMicros);
}

std::unique_ptr<YieldPolicy> alwaysYield() { return std::make_unique<AlwaysYield>(); }

std::unique_ptr<YieldPolicy> seededRandom(uint64_t seed, unsigned percent) {
  if (percent > 100) {
    throw std::invalid_argument("random yield percent " + std::to_string(percent) +
                                " is above 100");
  }
  return std::make_unique<SeededRandom>(seed, percent);
}

std::unique_ptr<YieldPolicy> yieldPolicyFromString(std::string_view text) {
  if (text == "never") return neverYield();
  if (text == "always") return alwaysYield();

  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) badPolicy(text, kPolicyForms);
  const std::string_view kind = text.substr(0, colon);
  const std::string_view rest = text.substr(colon + 1);

  if (kind == "budget") {
    const size_t plus = rest.find('+');
    if (plus == std::string_view::npos) return workBudget(numberOrThrow(text, rest));
    const std::string_view slice = rest.substr(plus + 1);
    if (!slice.starts_with("slice:")) badPolicy(text, kPolicyForms);
    return budgetOrSlice(numberOrThrow(text, rest.substr(0, plus)),
                         numberOrThrow(text, slice.substr(6)));
  }
  if (kind == "slice") return timeSlice(numberOrThrow(text, rest));
  if (kind == "random") {
    const size_t second = rest.find(':');
    const uint64_t seed = numberOrThrow(text, rest.substr(0, second));
    if (second == std::string_view::npos) return seededRandom(seed);
    const uint64_t percent = numberOrThrow(text, rest.substr(second + 1));
    if (percent > 100) badPolicy(text, "percent must be at most 100");
    return seededRandom(seed, static_cast<unsigned>(percent));
  }
  badPolicy(text, kPolicyForms);
}

}  // namespace Keel
