// The printed forms of keys in scenario files: what parses, into what (printed back), and the
// errors' texts. Plain keys, result types and "fibDefault:" parse in every scenario file; the
// errors of bad exit types, a named fibDefault option, a wide notification group and an unknown
// component are pinned by the refused files in tests/scenarios/bad, those of a pair by the
// refused --explain requests in tests/scenarios/CMakeLists.txt.
#include "tools/iesim/Keys.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace IeSim {
namespace {

using Parse = std::function<std::string(std::string_view)>;

// `parse` as a text: the parsed value printed back, or "error: " and the error.
template <class F>
Parse printed(F parse) {
  return [parse](std::string_view text) {
    std::string error;
    const auto value = parse(text, &error);
    return value ? fmt::format("{}", *value) : "error: " + error;
  };
}

TEST(KeysTest, ParseIntoTheirFieldsOrNameTheValue) {
  const Parse pair = printed(parsePair), group = printed(parseGroupKey), option = printed(parseExitOption),
              optionKey = printed(parseOptionKey), svcGroup = printed(parseSvcGroupKey),
              notification = printed(parseNotificationKey), result = printed(parseResultType);
  struct Case {
    Parse parse;
    const char* text;
    std::string expected;
  };
  for (const Case& c : {
           Case{pair, "255.65535", "255.65535"},  // the binding ranges' ends
           Case{group, "@3.1", "error: empty group name in key \"@3.1\""},
           Case{printed(parsePolicyKey), "Gold@3", "error: \"Gold@3\" is not a key: expected <policy>@<vni>.<lane>"},
           // An exit option splits at the first colon; its key and a service group's at the last '@'.
           Case{option, "remoteExit:svc:a", "remoteExit:svc:a"},
           Case{option, "wan1", "error: \"wan1\" is not an exit option: expected <type>:<name>, e.g. localExit:wan1"},
           Case{optionKey, "remoteExit:a@b@10.2", "remoteExit:a@b@10.2"},
           Case{optionKey, "localExit:@1.1",
                "error: empty exit option name in \"localExit:\" in key \"localExit:@1.1\""},
           Case{svcGroup, "a@b@10.2", "a@b@10.2"},
           Case{svcGroup, "peer@1.x", "error: \"peer@1.x\" is not a key: expected <service group>@<vni>.<lane>"},
           Case{result, "remote", "error: result type \"remote\" does not exist: expected noResult, localDefaultVrf, "
                                  "localOtherVrf, fibDefaultRoute or remoteResolved"},
           // A notification's group is 16 bits: the pair splits at the last '/', a wider group is
           // refused with its value, not cut.
           Case{notification, "10.1/65535", "10.1/65535"},
           Case{notification, "10.1", "error: \"10.1\" is not a notification: expected <vni>.<lane>/<group>"},
           Case{notification, "300.1/2", "error: value 300 out of range for vni (0..255) in notification \"300.1/2\""},
       }) {
    EXPECT_EQ(c.parse(c.text), c.expected) << c.text;
  }
  std::string error;
  EXPECT_EQ(parseComponent("VniDefaultRouteTrackerSm", &error), OrbInternetExit::Component::vniDefaultRoute);
  EXPECT_EQ(vrfNameError(std::string(100, 'v')), "");  // over 100: bad/hostile_texts
}

}  // namespace
}  // namespace IeSim
