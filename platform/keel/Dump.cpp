#include "platform/keel/Dump.h"

#include <cstdarg>

namespace Keel {

void DumpContext::append(const char* data, size_t size) const {
  text_.append(data, size);
  if (stream_ != nullptr) std::fwrite(data, 1, size, stream_);
}

void _objDumpPrintf(const Mica::Ptr<const DumpContext>& ctx, const char* format, ...) {
  if (!ctx) return;
  // Most dump lines fit on the stack; a longer one is formatted a second time at its size.
  char line[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n >= 0 && static_cast<size_t>(n) < sizeof line) {
    ctx->append(line, static_cast<size_t>(n));
  } else if (n >= 0) {
    std::string text(static_cast<size_t>(n), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    ctx->append(text.data(), text.size());
  }
  // n < 0: an encoding error; nothing sensible to write.
  va_end(again);
}

}  // namespace Keel
