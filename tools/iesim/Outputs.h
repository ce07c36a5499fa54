// Whether everything iesim wrote reached its destination.
//
// A full disk or a closed pipe must not pass for a scenario's failure, nor go unnoticed: each
// output (the report, --dump, --blip, --chrome-trace, --trace-file) is named, its first failure
// is kept with the system's reason, and iesim says so at the end and exits non-zero. Writes that
// throw (fmt::print does on a short write) are caught by guard(); writes that do not (a trace
// line, a buffered byte) are found by check(), which flushes the stream and reads its error flag.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace IeSim {

// The names of the outputs on the standard streams.
inline constexpr std::string_view kReportOutput = "the report (stdout)";
inline constexpr std::string_view kDumpOutput = "--dump (stdout)";
inline constexpr std::string_view kFailureOutput = "the failures (stderr)";

class Outputs {
 public:
  // Runs `write`, which writes to the output named `name`; a write error it throws is kept.
  template <class F>
  void guard(std::string_view name, F&& write) {
    try {
      write();
    } catch (const std::system_error& e) {
      failed(name, e.code().message());
    }
  }
  // Flushes `stream` and keeps a failure of `name` when a write to it failed, now or earlier.
  void check(std::string_view name, std::FILE* stream);
  // check() right after writing to `stream`: a buffered write may have failed without a word
  // but its error flag, and errno still holds the reason.
  void checkWritten(std::string_view name, std::FILE* stream);
  // Writes `text` whole to `path` ("-": stdout) as the output `name`, closing what it opened.
  void writeFile(std::string_view name, const std::string& path, std::string_view text);

  // Keeps `reason` as the first failure of `name` (later ones of the same output add nothing).
  void failed(std::string_view name, std::string_view reason);
  // "cannot write the report (stdout): No space left on device", one per output, in order.
  const std::vector<std::string>& failures() const noexcept { return failures_; }

 private:
  // Streams with a failure kept: a later check of another output on the same stream (the
  // report after --dump on stdout) would only repeat it.
  std::vector<std::FILE*> blamed_;
  std::vector<std::string> names_;
  std::vector<std::string> failures_;
};

}  // namespace IeSim
