// Where the library's state depends on the order of past events, the reference (which knows only
// the current inputs) and the library part. Each row is such a case: the sequence reaches a state
// that differs from the reference in exactly the way stated, and restarting the named state
// machine brings the library back to the reference (or, where a row says so, leaves a stated
// difference). The property test keeps these sequences out of its domain (Generators.h).
#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "platform/mica/Assert.h"
#include "tests/oracle/SequenceRunner.h"

namespace IeOracle {
namespace {

struct Case {
  const char* name;
  const char* scenario;  // an initial block and steps; the last step is a run until idle
  const char* live;      // what the first quiescent point that differs reports
  const char* restart;   // the component whose restart before that run (once settled) converges
  const char* healed;    // what still differs after that restart ("" when nothing does)
};

// Gold on 1.1 with a default-route exit that is up, the InternetExit module present.
#define GOLD_ON_1_1                                                                                 \
  "initial { binding { vni: 1 lane: 1 policy: \"Gold\" } vrf { id: 1 name: \"blue\" vni: 1 }"     \
  " default_route: 1 module { present: true }"

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const Case kCases[] = {
    {"PolicyNamingAGroupTwiceLosesItWithEitherEntry",
     GOLD_ON_1_1 " config { policy { name: \"Gold\" entry { seq: 10 group: \"Wan\" } entry { seq: 20 group: \"Wan\" } }"
                 " group { name: \"Wan\" option: \"fibDefault:\" } } }"
                 " step { run {} } step { remove_entry { policy: \"Gold\" seq: 20 } } step { run {} }",
     "statusConfig: missing {group Wan@1.1, option Wan@1.1 fibDefault:@1.1}", "IeStatusConfigSm", ""},
    {"ChangingOneOfTwoEntriesThatNameAGroupDropsTheGroup",
     GOLD_ON_1_1 " config { policy { name: \"Gold\" entry { seq: 10 group: \"Wan\" } entry { seq: 20 group: \"Wan\" } }"
                 " group { name: \"Wan\" option: \"fibDefault:\" } group { name: \"Lte\" option: \"remoteExit:peer\" } } }"
                 " step { run {} } step { set_entry { policy: \"Gold\" seq: 20 group: \"Lte\" } } step { run {} }",
     "statusConfig: missing {group Wan@1.1, option Wan@1.1 fibDefault:@1.1}", "IeStatusConfigSm", ""},
    {"RemovingAPolicyWithEntriesRemovesItsBoundPairs",
     GOLD_ON_1_1 " config { policy { name: \"Gold\" entry { seq: 10 group: \"Wan\" } } group { name: \"Wan\" option: \"fibDefault:\" } } }"
                 " step { run {} } step { remove_policy { name: \"Gold\" } } step { run {} }",
     "statusConfig: missing {pair 1.1}", "IeStatusConfigSm", ""},
    {"GroupConfiguredWithoutOptionsGetsNoGroupEntry",
     GOLD_ON_1_1 " config { policy { name: \"Gold\" entry { seq: 10 group: \"Far\" } } } }"
                 " step { run {} } step { configure_group { name: \"Far\" } } step { run {} }",
     "statusConfig: missing {group Far@1.1}", "IeStatusConfigSm", ""},
    // The next three are sequences the property found, as RapidCheck shrank them.
    {"RebindingWhileTheBindingsStartRemovesThePair",
     "initial { binding { vni: 1 lane: 1 policy: \"Gold\" } binding { vni: 2 lane: 1 policy: \"Bronze\" }"
     " binding { vni: 2 lane: 2 policy: \"Gold\" } config { policy { name: \"Gold\" } policy { name: \"Silver\" } }"
     " vrf { id: 1 name: \"blue\" vni: 1 } module { present: false } }"
     " step { run { yield: \"budget:2\" } } step { restart { yield: \"random:1:30\" } }"
     " step { bind { vni: 1 lane: 1 policy: \"Bronze\" } } step { run {} }",
     "statusConfig: missing {pair 1.1}", "IeStatusConfigSm", ""},
    {"RemovingAnEntryWhileTheBuilderStartsKeepsItsGroup",
     "initial { binding { vni: 1 lane: 1 policy: \"Gold\" } binding { vni: 1 lane: 2 policy: \"Gold\" }"
     " config { policy { name: \"Gold\" } group { name: \"Lte\" option: \"localExit:wan1\" } }"
     " vrf { id: 1 name: \"blue\" vni: 1 } module { present: false } }"
     " step { run { yield: \"never\" } } step { set_entry { policy: \"Gold\" seq: 10 group: \"Lte\" } }"
     " step { restart { yield: \"random:1:30\" component: \"IeStatusConfigSm\" } }"
     " step { remove_entry { policy: \"Gold\" seq: 10 } } step { run {} }",
     "statusConfig: unexpected {group Lte@1.1, group Lte@1.2, option Lte@1.1 localExit:wan1@1.1, option Lte@1.2 localExit:wan1@1.2}",
     "IeStatusConfigSm", ""},
    // The new policy's add of the shared result is refused as a repeat, then the old policy's
    // delete removes the entry: the data path has no exit for the pair although its policy has one.
    {"RebindingWhileThePolicyStatusStartsLosesASharedExitInTheDataPath",
     "initial { binding { vni: 1 lane: 1 policy: \"Gold\" }"
     " config { policy { name: \"Gold\" entry { seq: 10.5 group: \"Wan\" } entry { seq: 20 group: \"Lte\" } }"
     " policy { name: \"Silver\" entry { seq: 20 group: \"Wan\" } } group { name: \"Wan\" option: \"fibDefault:\" } }"
     " vrf { id: 1 name: \"blue\" vni: 1 } intf: \"eth1\" intf: \"eth2\" module { present: true } }"
     " step { run { yield: \"random:1:30\" } } step { default_route { vrf: 1 present: true } }"
     " step { restart { yield: \"random:1:30\" component: \"IeRemoteSvcResolverRequestSm\" component: \"IePolicyStatusSm\" } }"
     " step { bind { vni: 1 lane: 1 policy: \"Silver\" } } step { run {} }",
     "exitTable: missing {exit 1.1 intf= vrf=default gate=0 aux=4294967295 fibDefaultRoute}", "IeProgramDpSm", ""},
    // A VRF's VNI is read at evaluation only. The restart's evaluation finds the connection no
    // longer valid for the pair and clears the result without giving its gate back.
    {"RebindingAVrfReevaluatesNoOptionAndARestartLeaksTheGate",
     GOLD_ON_1_1 " config { policy { name: \"Gold\" entry { seq: 10 group: \"Wan\" } } group { name: \"Wan\" option: \"localExit:wan1\" } }"
                 " intf: \"eth1\" connection { name: \"wan1\" intf: \"eth1\" vrf: \"blue\" num: 5 } }"
                 " step { run {} } step { vrf { id: 1 name: \"blue\" vni: 2 } } step { run {} }",
     "exitOption: missing {option localExit:wan1@1.1 intf= vrf=default gate=none aux=4294967295 noResult}",
     "IeExitOptionStatusSm", "gates: the module holds eth1 gate 1 users 1, the options none"},
};

Sequence sequenceOf(const std::string& text) {
  iesim::pb::Scenario scenario;
  if (!google::protobuf::TextFormat::ParseFromString(text, &scenario)) throw std::invalid_argument("bad scenario: " + text);
  Sequence s{scenario.initial(), {}};
  for (const auto& step : scenario.step()) s.steps.push_back(step);
  return s;
}

class ReferenceCasesTest : public testing::TestWithParam<Case> {
 protected:
  Mica::ThrowingAssertions throwing_;
};

TEST_P(ReferenceCasesTest, LibraryDiffersAsStatedAndARestartConverges) {
  const Case& c = GetParam();
  Sequence sequence = sequenceOf(c.scenario);
  const SequenceOutcome live = runSequence(sequence, RunSettings{.domainOnly = false, .endState = nullptr});
  EXPECT_NE(live.failure.find(c.live), std::string::npos) << "the library: " << live.failure;

  // Settle (a run that is not a quiescent point of the check), then restart.
  iesim::pb::Step settle, restart;
  settle.mutable_run()->set_max_runs(1000000);
  restart.mutable_restart()->add_component(c.restart);
  sequence.steps.insert(sequence.steps.end() - 1, {settle, restart});
  const SequenceOutcome healed = runSequence(sequence, RunSettings{.domainOnly = false, .endState = nullptr});
  if (std::string(c.healed).empty()) {
    EXPECT_EQ(healed.failure, "");
  } else {
    EXPECT_NE(healed.failure.find(c.healed), std::string::npos) << healed.failure;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReferenceCasesTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace IeOracle
