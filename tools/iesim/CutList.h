// A set as one line of the end report, cut like the report's tables: at most Report::kRowsShown
// members, then how many more there are, so that a table of a million pairs prints a few lines.
#pragma once

#include <fmt/format.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "tools/iesim/Report.h"

namespace IeSim {

// "a, b, c", or "a, b, ... (N more)" beyond `limit` members; `none` when the set is empty.
// `text(member)` prints one member.
template <class Range, class Text>
std::string cutList(const Range& range, Text text, std::string_view none = "(none)",
                    size_t limit = Report::kRowsShown) {
  std::string out;
  size_t count = 0;
  for (const auto& m : range) {
    if (count < limit) out += (count == 0 ? "" : ", ") + text(m);
    ++count;
  }
  if (count == 0) return std::string(none);
  if (count > limit) out += fmt::format(", ... ({} more)", count - limit);
  return out;
}

// The same with each member in its printed form.
template <class Range>
std::string cutMembers(const Range& range, std::string_view none = "(none)") {
  return cutList(range, [](const auto& m) { return fmt::format("{}", m); }, none);
}

}  // namespace IeSim
