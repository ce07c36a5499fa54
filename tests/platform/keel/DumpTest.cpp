#include "platform/keel/Dump.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace Keel {
namespace {

TEST(DumpTest, IndentWithStarCFollowsPrintf) {
  auto ctx = Mica::make<DumpContext>();
  _objDumpPrintf(ctx, "%*cX\n", 4, ' ');
  EXPECT_EQ(ctx->text(), "    X\n") << "width 4 pads the blank to four characters";
  ctx->clear();
  _objDumpPrintf(ctx, "%*cX\n", 0, ' ');
  EXPECT_EQ(ctx->text(), " X\n") << "width 0 still prints the character itself";
}

TEST(DumpTest, WritesAppendInOrder) {
  auto ctx = Mica::make<DumpContext>();
  _objDumpPrintf(ctx, "%s:", "InternetExit");
  _objDumpPrintf(ctx, " %d entries, %u%%\n", -3, 12u);
  EXPECT_EQ(ctx->text(), "InternetExit: -3 entries, 12%\n");
}

TEST(DumpTest, LongOutputIsKeptWhole) {
  auto ctx = Mica::make<DumpContext>();
  for (size_t len : {510u, 511u, 512u, 5000u}) {
    ctx->clear();
    const std::string body(len, 'a');
    _objDumpPrintf(ctx, "[%s]", body.c_str());
    EXPECT_EQ(ctx->text(), "[" + body + "]") << len;
  }
}

TEST(DumpTest, StreamContextWritesThroughAndKeepsTheText) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    auto ctx = Mica::make<DumpContext>(file);
    _objDumpPrintf(ctx, "%*cline %d\n", 2, ' ', 1);
    EXPECT_EQ(ctx->text(), "  line 1\n");
  }
  std::rewind(file);
  char buf[32] = {};
  const size_t n = std::fread(buf, 1, sizeof buf - 1, file);
  std::fclose(file);
  EXPECT_EQ(std::string(buf, n), "  line 1\n");
}

}  // namespace
}  // namespace Keel
