#include "platform/trace/Trace.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <map>
#include <stdexcept>

namespace Mica {

namespace {

StreamTraceSink& defaultSink() {
  // Never destroyed: messages written while statics are torn down still find a sink.
  static auto* sink = new StreamTraceSink(stderr);
  return *sink;
}

TraceSink* installedSink = nullptr;

// Handlers by name. std::map keeps nodes in place and lists handlers in name order; the map is
// never destroyed so that handlers held by other statics stay valid until exit.
using Registry = std::map<std::string, Ptr<DebugHandler>, std::less<>>;
Registry& registry() {
  static auto* handlers = new Registry;
  return *handlers;
}

std::string_view trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

[[noreturn]] void badLevels(std::string_view item, std::string_view text, std::string_view why) {
  throw std::invalid_argument(
      fmt::format("invalid trace level \"{}\" in \"{}\": {}", item, text, why));
}

int parseLevel(std::string_view digits, std::string_view item, std::string_view text) {
  int level = -1;
  const auto* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, level);
  if (digits.empty() || ec == std::errc::invalid_argument || ptr != end) {
    badLevels(item, text, "expected a number or a range N-M");
  }
  if (ec == std::errc::result_out_of_range || level < 0 || level > kMaxTraceLevel) {
    badLevels(item, text, fmt::format("levels are 0..{}", kMaxTraceLevel));
  }
  return level;
}

}  // namespace

void DebugHandler::emitFormatted(int level, fmt::string_view format, fmt::format_args args) const {
  // Short messages stay on the stack.
  fmt::memory_buffer text;
  fmt::vformat_to(std::back_inserter(text), format, args);
  emit(level, std::string_view(text.data(), text.size()));
}

void DebugHandler::emit(int level, std::string_view text) const {
  traceSink()->write(name_, level, text);
}

uint32_t parseLevelMask(std::string_view text) {
  const auto whole = trimmed(text);
  if (whole == "all") return ~uint32_t{0};
  if (whole == "none") return 0;
  if (whole.empty()) badLevels(text, text, "no levels given");
  uint32_t mask = 0;
  std::string_view rest = whole;
  while (true) {
    const auto comma = rest.find(',');
    const auto item = trimmed(rest.substr(0, comma));
    const auto dash = item.find('-');
    const int low = parseLevel(trimmed(item.substr(0, dash)), item, text);
    const int high = dash == std::string_view::npos
                         ? low
                         : parseLevel(trimmed(item.substr(dash + 1)), item, text);
    if (high < low) badLevels(item, text, "the range is reversed");
    for (int level = low; level <= high; ++level) mask |= uint32_t{1} << level;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return mask;
}

void traceSinkIs(TraceSink* sink) noexcept { installedSink = sink; }

TraceSink* traceSink() noexcept { return installedSink ? installedSink : &defaultSink(); }

void StreamTraceSink::write(std::string_view handler, int level, std::string_view text) {
  // One write per message so that lines from several processes sharing a stream stay whole.
  fmt::memory_buffer line;
  fmt::format_to(std::back_inserter(line), "{}[{}]: {}\n", handler, level, text);
  std::fwrite(line.data(), 1, line.size(), stream_);
}

TraceCapture::TraceCapture() : previous_(traceSink()) { traceSinkIs(this); }

TraceCapture::~TraceCapture() { traceSinkIs(previous_); }

void TraceCapture::write(std::string_view handler, int level, std::string_view text) {
  lines_.push_back(Line{std::string(handler), level, std::string(text)});
}

std::vector<std::string> TraceCapture::texts(int level) const {
  std::vector<std::string> out;
  for (const auto& line : lines_) {
    if (level < 0 || line.level == level) out.push_back(line.text);
  }
  return out;
}

bool TraceCapture::contains(std::string_view text) const {
  return std::any_of(lines_.begin(), lines_.end(),
                     [&](const Line& line) { return line.text == text; });
}

namespace Platform {

Ptr<DebugHandler> getDebugHandler(std::string_view name, bool enableAll) {
  auto& handlers = registry();
  auto it = handlers.find(name);
  if (it == handlers.end()) {
    auto handler = make<DebugHandler>(std::string(name));
    if (enableAll) handler->levelMaskIs(~uint32_t{0});
    it = handlers.emplace(std::string(name), std::move(handler)).first;
  }
  return it->second;
}

std::vector<Ptr<DebugHandler>> debugHandlers() {
  std::vector<Ptr<DebugHandler>> out;
  out.reserve(registry().size());
  for (const auto& [name, handler] : registry()) out.push_back(handler);
  return out;
}

}  // namespace Platform

}  // namespace Mica
