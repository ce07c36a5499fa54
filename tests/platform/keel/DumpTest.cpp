#include "platform/keel/Dump.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/MemoryFile.h"

namespace Keel {
namespace {

// Writes follow printf (a "%*c" indent of width 0 still prints the character) and append in
// order; long output is kept whole; a context on a stream writes through and keeps the text.
TEST(DumpTest, WritesFollowPrintfAppendAndGoThroughToTheStream) {
  IeTest::MemoryFile file;
  auto ctx = Mica::make<DumpContext>(file.get());
  _objDumpPrintf(ctx, "%*cX|", 4, ' ');
  _objDumpPrintf(ctx, "%*cX|", 0, ' ');
  _objDumpPrintf(ctx, "%s: %d entries, %u%%\n", "InternetExit", -3, 12u);
  EXPECT_EQ(ctx->text(), "    X| X|InternetExit: -3 entries, 12%\n");
  EXPECT_EQ(file.text(), ctx->text());
  for (size_t len : {511u, 512u, 5000u}) {
    ctx->clear();
    const std::string body(len, 'a');
    _objDumpPrintf(ctx, "[%s]", body.c_str());
    EXPECT_EQ(ctx->text(), "[" + body + "]") << len;
  }
}

}  // namespace
}  // namespace Keel
