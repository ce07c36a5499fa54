// Files that are no scenario text: refused before a byte is read, or within the size limit.
// (Hostile texts inside a scenario file are pinned by the refused files in tests/scenarios/bad.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/iesim/Scenario.h"

namespace IeSim {
namespace {

TEST(HostileFile, ThatCouldBlockNeverEndOrAreTooBigAreRefusedUnread) {
  const auto dir = std::filesystem::temp_directory_path() / ("iesim_hostile_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);  // a run that stopped at an assertion may have left it
  std::filesystem::create_directories(dir);
  const std::string fifo = (dir / "fifo").string(), big = (dir / "big.textproto").string();
  const std::string absent = (dir / "absent").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Sparse: no disk space, and the loader must refuse it by its size without reading it.
  std::ofstream(big).put('#');
  ASSERT_EQ(::truncate(big.c_str(), kMaxScenarioBytes + 1), 0);
  for (const auto& [path, error] : std::vector<std::pair<std::string, std::string>>{
           // No writer ever opens the FIFO: a blocking open would wait for ever.
           {fifo, fifo + ": cannot read: not a regular file (a FIFO)"},
           // /dev/zero never ends.
           {"/dev/zero", "/dev/zero: cannot read: not a regular file (a character device)"},
           {dir.string(), dir.string() + ": cannot read: it is a directory"},
           {absent, absent + ": cannot read: No such file or directory"},
           {big, big + ": cannot read: " + std::to_string(kMaxScenarioBytes + 1) + " bytes, at most " +
                     std::to_string(kMaxScenarioBytes) + " allowed"},
       }) {
    const LoadResult loaded = loadScenarioFile(path);
    EXPECT_FALSE(loaded.scenario) << path;
    EXPECT_EQ(loaded.errors, std::vector<std::string>{error});
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace IeSim
