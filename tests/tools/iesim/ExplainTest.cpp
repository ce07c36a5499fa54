// The simulator's answer to "why does this pair exit there?": the failover story's explanation
// at the step where it fails over, the reason derived for each kind of option state (and that
// the library's results agree with it), a result that no longer follows its inputs, and the
// refusals of requests that cannot be answered.
#include "tools/iesim/Explain.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "platform/mica/Assert.h"
#include "tests/support/MemoryFile.h"
#include "tools/iesim/DefaultScenario.h"
#include "tools/iesim/Runner.h"

namespace IeSim {
namespace {

struct Explained {
  std::string out;
  std::string err;
  size_t errors = 0;
};

// Runs the scenario `text` (no report) and returns what the explainer printed for `requests`.
Explained explain(std::string_view text, const std::vector<std::string>& requests) {
  Mica::ThrowingAssertions throwing;
  std::vector<ExplainRequest> parsed;
  for (const auto& r : requests) {
    std::string error;
    auto q = parseExplainRequest(r, &error);
    EXPECT_TRUE(q) << error;
    if (q) parsed.push_back(*q);
  }
  const auto loaded = loadScenarioText("test", text);
  EXPECT_TRUE(loaded.scenario) << (loaded.errors.empty() ? "" : loaded.errors.front());
  if (!loaded.scenario) return {};
  IeTest::MemoryFile out, err;
  Explainer explainer(out.get(), err.get(), std::move(parsed));
  Report report(stdout, false);
  RunOptions options;
  options.explainer = &explainer;
  runScenario(*loaded.scenario, options, report);
  return {out.text(), err.text(), explainer.errors()};
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Lanes 1..`lanes` of VNI 10 bound to policy P, whose one entry names group G holding `option`;
// `engine` completes the start state, `steps` follow it.
std::string scenario(const std::string& option, const std::string& engine, const std::string& steps,
                     int lanes = 1) {
  std::string text = "initial {\n";
  for (int lane = 1; lane <= lanes; ++lane) {
    text += fmt::format("binding {{ vni: 10 lane: {} policy: \"P\" }}\n", lane);
  }
  return text + "config { policy { name: \"P\" entry { seq: 10 group: \"G\" } } group { name: \"G\" option: \"" +
         option + "\" } }\n" + engine + "\n}\n" + steps;
}

// VNI 10's VRF blue, interface eth1 and the module; connection wan1 on eth1, its VRF still to come.
const std::string kBlue = "vrf { id: 1 name: \"blue\" vni: 10 } intf: [\"eth1\"] module { present: true } ";
const std::string kWan1 = "connection { name: \"wan1\" intf: \"eth1\" num: 5 ";

TEST(ExplainTest, FailoverAtTheStepWhereItFailsOver) {
  const auto e = explain(kDefaultScenario, {"10.1@2"});
  EXPECT_EQ(e.err, "");
  EXPECT_EQ(e.out,
            "explain 10.1 after step 2 (line 20): interface eth1 absent (removed)\n"
            "  binding          policy Gold; polToVniLane Gold@10.1\n"
            "  policy           Gold@10.1 wins Backup\n"
            "  seq 10           Primary: down, its option is not usable\n"
            "                     localExit:wan1     noResult intf=eth1 gate=none aux=5: interface eth1 of "
            "connection wan1 absent\n"
            "  seq 20           Backup: up, wins\n"
            "                     remoteExit:peer    remoteResolved gate=none aux=42: resolver answer peer@10.1 = 42\n"
            "  winner           Backup, the first group that is up; Primary (seq 10) is down: its option is not "
            "usable\n"
            "  exit interfaces  remoteResolved gate=none aux=42\n"
            "  data path        intf= gate=4294967295 aux=42 type=IE_RESULT_REMOTE_RESOLVED\n"
            "  in use           10.1/42\n"
            "  last change      step 2 (line 20): interface eth1 absent (removed)\n"
            "                     Gold@10.1 <- Primary lost localExit:wan1 (now noResult: interface eth1 of "
            "connection wan1 absent)\n"
            "\n");
}

// The last change is the restart's reconciliation, and it says that no result changed in it;
// the explanations come in the order of their points in the scenario.
TEST(ExplainTest, AtTheEndAfterTheRestart) {
  const auto e = explain(kDefaultScenario, {"10.1", "10.1@3"});
  EXPECT_TRUE(e.out.starts_with("explain 10.1 after step 3 (line 24): interface eth1 present (new)\n")) << e.out;
  const size_t end = e.out.find("\nexplain 10.1 at the end\n");
  ASSERT_NE(end, std::string::npos) << e.out;
  for (const char* line : {"\n  winner           Primary, the first group that is up\n",
                           "\n  last change      step 7 (line 37): run the scheduler",
                           "\n                     Gold@10.1 <- no result of its groups changed: its configuration, the "
                           "reverse map or a start re-evaluated it\n"}) {
    EXPECT_NE(e.out.find(line, end), std::string::npos) << line << "\n" << e.out;
  }
  EXPECT_EQ(e.out.find("MISMATCH"), std::string::npos) << e.out;
}

// A step report formats only its first cause lines, but an explained pair keeps its own,
// wherever it stands among forty pairs that fail over together.
TEST(ExplainTest, APairKeepsItsCauseBeyondTheLinesAStepShows) {
  const auto e = explain(scenario("localExit:wan1", kBlue + kWan1 + "vrf: \"blue\" }",
                                  "step { run {} } step { intf { name: \"eth1\" present: false } } step { run {} }",
                                  40),
                         {"10.1", "10.40"});
  EXPECT_EQ(e.err, "");
  for (const char* pair : {"10.1", "10.40"}) {
    const std::string cause = fmt::format("                     P@{} <- G lost localExit:wan1", pair);
    EXPECT_NE(e.out.find(cause), std::string::npos) << pair << "\n" << e.out;
  }
}

// One group with one option of the pair 10.1, in a start state with `engine`; the option's line
// of the explanation at the end.
std::string optionLine(const std::string& option, const std::string& engine) {
  const auto e = explain(scenario(option, engine, "step { run {} }"), {"10.1"});
  EXPECT_EQ(e.err, "");
  EXPECT_EQ(e.out.find("MISMATCH"), std::string::npos) << e.out;
  for (const auto& line : linesOf(e.out)) {
    const size_t at = line.find(option.substr(0, option.find(':') + 1));
    if (at != std::string::npos && line.find("seq") == std::string::npos) return line.substr(at);
  }
  return "(no line for " + option + ")\n" + e.out;
}

// (An absent interface: the failover's explanation above.)
TEST(ExplainTest, EachOptionStateHasItsReasonAndTheLibraryAgrees) {
  struct Case {
    const char* what;
    std::string option;
    std::string engine;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"no connection", "localExit:wan1", kBlue,
       "localExit:wan1     noResult gate=none aux=none: no connection \"wan1\""},
      {"VRF of another VNI", "localExit:wan1",
       kBlue + "vrf { id: 2 name: \"red\" vni: 20 } " + kWan1 + "vrf: \"red\" }",
       "localExit:wan1     noResult gate=none aux=none: VRF red of VNI 20, not of 10"},
      {"VRF of no VNI", "localExit:wan1", kBlue + kWan1 + "vrf: \"green\" }",
       "localExit:wan1     noResult gate=none aux=none: VRF green of no VNI"},
      {"no module", "localExit:wan1",
       "vrf { id: 1 name: \"blue\" vni: 10 } intf: [\"eth1\"] " + kWan1 + "}",
       "localExit:wan1     noResult intf=eth1 gate=none aux=5: no gate: no InternetExit module (a module that "
       "goes leaves the results as they are until they are next evaluated)"},
      {"a module of another kind", "localExit:wan1",
       "vrf { id: 1 name: \"blue\" vni: 10 } intf: [\"eth1\"] module { present: true kind: OTHER_MODULE } " + kWan1 +
           "}",
       "localExit:wan1     noResult intf=eth1 gate=none aux=5: no gate: the module is no InternetExit module"},
      {"usable in the VNI's VRF", "localExit:wan1", kBlue + kWan1 + "vrf: \"blue\" }",
       "localExit:wan1     localOtherVrf intf=eth1 vrf=blue gate=1 aux=5: connection wan1 on eth1, gate 1"},
      {"no resolver answer", "remoteExit:peer", kBlue,
       "remoteExit:peer    noResult gate=none aux=0: no resolver answer for peer@10.1 (requested)"},
      {"resolver answer", "remoteExit:peer", kBlue + "response { key: \"peer@10.1\" remote_svc_group: 7 }",
       "remoteExit:peer    remoteResolved gate=none aux=7: resolver answer peer@10.1 = 7"},
      {"no default route", "fibDefault:", kBlue,
       "fibDefault:        noResult gate=none aux=none: no default route: no VRF of VNI 10 has one (VRF 1 blue)"},
      {"no VRF of the VNI", "fibDefault:", "vrf { id: 1 name: \"blue\" vni: 11 } default_route: 1",
       "fibDefault:        noResult gate=none aux=none: no default route: no VRF is bound to VNI 10"},
      {"default route", "fibDefault:", kBlue + "default_route: 1",
       "fibDefault:        fibDefaultRoute gate=0 aux=none: default route in VRF 1 blue of VNI 10"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(optionLine(c.option, c.engine), c.line) << c.what;
  }
}

// The state machines are stopped and the resolver withdraws its answer: the option's result no
// longer follows its inputs, and each output computed from it says so.
TEST(ExplainTest, ResultsThatDoNotFollowTheirInputsAreMismatches) {
  const auto e = explain(scenario("remoteExit:peer", kBlue + "response { key: \"peer@10.1\" remote_svc_group: 42 }",
                                  "step { run {} } step { stop {} } step { remove_response { key: \"peer@10.1\" } }"),
                         {"10.1"});
  const auto lines = linesOf(e.out);
  for (const char* line :
       {"                     remoteExit:peer    remoteResolved gate=none aux=42: no resolver answer for peer@10.1 "
        "(requested)",
        "                       MISMATCH: the library has remoteResolved gate=none aux=42, the inputs call for "
        "noResult gate=none aux=0",
        "  seq 10           G: down, its option is not usable (MISMATCH: the library has it up)",
        "  winner           none: no group is up (MISMATCH: the library has G)",
        "  note             state machines: none; the outputs may not follow their inputs yet"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << "\n" << e.out;
  }
}

TEST(ExplainTest, RequestsThatCannotBeAnsweredNameTheValue) {
  struct Case {
    const char* request;
    const char* error;
  };
  const std::vector<Case> refused = {
      {"10.1@2x", "step \"2x\" in \"10.1@2x\" is not a step number: expected VNI.LANE or VNI.LANE@STEP, e.g. 10.1@2"},
      {"10.1@-1", "step \"-1\" in \"10.1@-1\" is not a step number: expected VNI.LANE or VNI.LANE@STEP, e.g. 10.1@2"},
      {"10", "\"10\" is not a pair: expected <vni>.<lane>"},
  };
  for (const auto& c : refused) {
    std::string error;
    EXPECT_FALSE(parseExplainRequest(c.request, &error)) << c.request;
    EXPECT_EQ(error, c.error) << c.request;
  }

  const auto e = explain(kDefaultScenario, {"10.9", "10.1@9", "10.2@0"});
  EXPECT_EQ(e.errors, 3u);
  EXPECT_EQ(e.out, "");
  EXPECT_EQ(e.err,
            "iesim: --explain 10.1@9 (failover): step 9 out of range: the scenario has steps 1..8 (0: the start)\n"
            "iesim: --explain 10.2@0 (failover): pair 10.2 is unknown after step 0: no binding, policy, status or "
            "exit entry names it\n"
            "iesim: --explain 10.9 (failover): pair 10.9 is unknown at the end: no binding, policy, status or exit "
            "entry names it\n");

  // A scenario stopped by the library's refusal never reaches the later steps asked about.
  const auto stopped = explain(
      "initial {} step { run {} } step { restart { component: \"IeProgramDpSm\" synchronous: true } } step { run {} }",
      {"10.1@3"});
  EXPECT_EQ(stopped.errors, 1u);
  EXPECT_EQ(stopped.err, "iesim: --explain 10.1@3 (test): step 3 not reached: the scenario stopped after step 1\n");
}

}  // namespace
}  // namespace IeSim
