// A FILE* whose contents a test reads back as a string, for code that writes to a stream.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace IeTest {

class MemoryFile {
 public:
  MemoryFile() : file_(open_memstream(&data_, &size_)) {}
  ~MemoryFile() {
    std::fclose(file_);
    std::free(data_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  std::FILE* get() const noexcept { return file_; }
  // Everything written so far.
  std::string text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  std::FILE* file_;
};

}  // namespace IeTest
