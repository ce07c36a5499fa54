// Scenario files as a careless or hostile user writes them: each is refused with the place and
// the value, and nothing of it reaches a report line raw.
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

std::vector<std::string> errorsOf(const std::string& text) {
  const LoadResult loaded = loadScenarioText("h.textproto", text);
  EXPECT_EQ(loaded.scenario.has_value(), loaded.errors.empty());
  return loaded.errors;
}

struct TextCase {
  const char* what;
  std::string text;
  std::vector<std::string> errors;
};

const std::string kRun = "step { run {} }\n";

TEST(HostileText, IsRefusedWithThePlaceAndTheValue) {
  for (const TextCase& c : {
        // Duplicates are the same value, however written.
        TextCase{"seq 0 and -0",
                 "initial { config { policy { name: \"Gold\"\n"
                 "  entry { seq: 0 group: \"A\" }\n"
                 "  entry { seq: -0 group: \"B\" } } } }\n" + kRun,
                 {"h.textproto:3:3: duplicate seq 0 in policy \"Gold\" (first at line 2)"}},
        TextCase{"seq 10, 10.0 and 1e1",
                 "step { configure_policy { name: \"P\" entry { seq: 10 group: \"A\" } "
                 "entry { seq: 10.0 group: \"B\" } entry { seq: 1e1 group: \"C\" } } }\n",
                 {"h.textproto:1:66: duplicate seq 10 in configure_policy \"P\" (first at column 37)",
                  "h.textproto:1:97: duplicate seq 10 in configure_policy \"P\" (first at column 37)"}},
        TextCase{"two bindings of one pair",
                 "initial {\n  binding { vni: 1 lane: 2 policy: \"G\" }\n"
                 "  binding { vni: 1 lane: 3 policy: \"G\" }\n"
                 "  binding { vni: 1 lane: 2 policy: \"H\" }\n}\n" + kRun,
                 {"h.textproto:4:3: duplicate vni 1 lane 2 in initial (first at line 2)"}},
        TextCase{"two VRFs with one id, two with one name",
                 "initial {\n  vrf { id: 1 name: \"a\" }\n  vrf { id: 1 name: \"b\" }\n"
                 "  vrf { id: 2 name: \"a\" }\n}\n" + kRun,
                 {"h.textproto:3:3: duplicate id 1 in initial (first at line 2)",
                  "h.textproto:4:3: duplicate name \"a\" in initial (first at line 2)"}},
        // Texts that would break a report line, a trace or the Chrome trace's JSON.
        TextCase{"a byte that is no UTF-8",
                 "initial { binding { vni: 1 lane: 2 policy: \"G\\xffold\" } }\n" + kRun,
                 {"h.textproto:1:36: policy \"G\\xffold\" is not valid UTF-8 (byte 0xFF at offset 1)"}},
        TextCase{"an overlong UTF-8 form of '/'",
                 "step { configure_group { name: \"a\\xc0\\xafb\" } }\n",
                 {"h.textproto:1:26: name \"a\\xc0\\xafb\" is not valid UTF-8 (byte 0xC0 at offset 1)"}},
        TextCase{"a newline forging a report line",
                 "step { why: \"ok\\nstep 9: forged\" run {} }\n",
                 {"h.textproto:1:8: why \"ok\\nstep 9: forged\" holds a control character (U+000A at offset 2)"}},
        TextCase{"a C1 control and a NUL",
                 "name: \"x\\302\\205\"\nstep { intf { name: \"e\\000\" present: true } }\n",
                 {"h.textproto:1:1: name \"x\\u0085\" holds a control character (U+0085 at offset 1)",
                  "h.textproto:2:15: name \"e\\x00\" holds a control character (U+0000 at offset 1)"}},
        TextCase{"printable UTF-8 is a name like any other",
                 "step { configure_group { name: \"Gr\\303\\274n\" option: \"localExit:wan\\342\\202\\2540\" } }\n",
                 {}},
        // Numbers outside what a field declares.
        TextCase{"an enum number that names no kind",
                 "step { module { present: true kind: 7 } }\n",
                 {"h.textproto:1:31: value 7 is no ModuleKind for kind: expected INTERNET_EXIT (0), "
                  "SI_EDGE (1) or OTHER_MODULE (2)"}},
        // Names over their longest length, refused with the field and the limit.
        TextCase{"a VRF name of an exit command over 100 bytes",
                 "step { exit_info { vni: 1 lane: 1 intf: \"e\" type: \"localOtherVrf\" vrf: \"" +
                     std::string(101, 'v') + "\" } }\n",
                 {"h.textproto:1:67: vrf name \"" + std::string(101, 'v') +
                  "\" has 101 bytes, at most 100 allowed"}},
        TextCase{"a VRF binding's name over 100 bytes",
                 "step { vrf { id: 1 name: \"" + std::string(200, 'n') + "\" } }\n",
                 {"h.textproto:1:20: vrf name \"" + std::string(200, 'n') +
                  "\" has 200 bytes, at most 100 allowed"}},
        // Nothing to run.
        TextCase{"an empty file", "", {"h.textproto: no step: a scenario needs at least one, else it checks nothing"}},
        TextCase{"a start state without steps",
                 "# only a comment\ninitial { intf: \"e\" }\n",
                 {"h.textproto: no step: a scenario needs at least one, else it checks nothing"}},
       }) {
    EXPECT_EQ(errorsOf(c.text), c.errors) << c.what;
  }
}

// Files that are no scenario text: refused before a byte is read, or within the size limit.
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
