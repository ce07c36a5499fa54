#include "tools/iesim/Outputs.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace IeSim {

void Outputs::failed(std::string_view name, std::string_view reason) {
  if (std::find(names_.begin(), names_.end(), name) != names_.end()) return;
  names_.emplace_back(name);
  failures_.push_back(fmt::format("cannot write {}: {}", name, reason));
}

void Outputs::check(std::string_view name, std::FILE* stream) {
  errno = 0;
  const bool flushed = std::fflush(stream) == 0;
  const int error = errno;
  if (flushed && std::ferror(stream) == 0) return;
  if (std::find(blamed_.begin(), blamed_.end(), stream) != blamed_.end()) return;
  blamed_.push_back(stream);
  // The flag does not keep the reason of an earlier failure; a failed flush gives its own.
  failed(name, error != 0 ? std::strerror(error) : "a write failed");
}

void Outputs::checkWritten(std::string_view name, std::FILE* stream) {
  const int reason = errno;
  if (std::ferror(stream) != 0 && reason != 0) {
    failed(name, std::strerror(reason));
    blamed_.push_back(stream);
  }
  check(name, stream);
}

void Outputs::writeFile(std::string_view name, const std::string& path, std::string_view text) {
  const bool toStdout = path == "-";
  std::FILE* f = toStdout ? stdout : std::fopen(path.c_str(), "w");
  if (f == nullptr) return failed(name, std::strerror(errno));
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
    failed(name, errno != 0 ? std::strerror(errno) : "a write failed");
  }
  check(name, f);
  if (!toStdout && std::fclose(f) != 0) failed(name, std::strerror(errno));
}

}  // namespace IeSim
