// The printed forms of keys in scenario files: what parses, into what, and the errors' texts
// (those of bad exit types, a named fibDefault option, a wide notification group and an unknown
// component are pinned by the refused files in tests/scenarios/bad, those of a pair by
// ExplainTest's refused requests).
#include "tools/iesim/Keys.h"

#include <gtest/gtest.h>

#include <string>

namespace IeSim {
namespace {

using OrbInternetExit::ExitType;

TEST(KeysTest, PairsAndKeysParseWithTheBindingRanges) {
  std::string error;
  EXPECT_EQ(parsePair("255.65535", &error), Lane::VniAndLaneId(Lane::VniId(255), 65535));

  const auto group = parseGroupKey("Wan@3.1", &error);
  ASSERT_TRUE(group);
  EXPECT_EQ(group->groupName, Mica::String("Wan"));
  EXPECT_EQ(group->vniLaneId, Lane::VniAndLaneId(Lane::VniId(3), 1));
  EXPECT_FALSE(parseGroupKey("@3.1", &error));
  EXPECT_EQ(error, "empty group name in key \"@3.1\"");
  EXPECT_FALSE(parsePolicyKey("Gold@3", &error));
  EXPECT_EQ(error, "\"Gold@3\" is not a key: expected <policy>@<vni>.<lane>");
}

// (The empty name's error is checked with the option keys below.)
TEST(KeysTest, ExitOptionsSplitAtTheFirstColon) {
  std::string error;
  const auto option = parseExitOption("remoteExit:svc:a", &error);
  ASSERT_TRUE(option);
  EXPECT_EQ(option->type, ExitType::remoteExit());
  EXPECT_EQ(option->name, Mica::String("svc:a"));
  const auto fib = parseExitOption("fibDefault:", &error);
  ASSERT_TRUE(fib);
  EXPECT_EQ(fib->type, ExitType::fibDefault());
  EXPECT_TRUE(fib->name.empty());
  EXPECT_FALSE(parseExitOption("wan1", &error));
  EXPECT_EQ(error, "\"wan1\" is not an exit option: expected <type>:<name>, e.g. localExit:wan1");
}

TEST(KeysTest, OptionAndServiceGroupKeysSplitAtTheLastAt) {
  std::string error;
  const auto option = parseOptionKey("remoteExit:a@b@10.2", &error);
  ASSERT_TRUE(option) << error;
  EXPECT_EQ(option->exitKey.name, Mica::String("a@b"));
  EXPECT_EQ(option->exitKey.type, ExitType::remoteExit());
  EXPECT_EQ(option->vniLaneId, Lane::VniAndLaneId(Lane::VniId(10), 2));
  const auto group = parseSvcGroupKey("a@b@10.2", &error);
  ASSERT_TRUE(group) << error;
  EXPECT_EQ(group->svcGroupName, Mica::String("a@b"));

  EXPECT_FALSE(parseOptionKey("localExit:@1.1", &error));
  EXPECT_EQ(error, "empty exit option name in \"localExit:\" in key \"localExit:@1.1\"");
  EXPECT_FALSE(parseSvcGroupKey("peer@1.x", &error));
  EXPECT_EQ(error, "\"peer@1.x\" is not a key: expected <service group>@<vni>.<lane>");
  EXPECT_EQ(vrfNameError(std::string(100, 'v')), "");  // over 100: HostileText's VRF name rows
}

TEST(KeysTest, ResultTypesByName) {
  std::string error;
  EXPECT_EQ(parseResultType("remoteResolved", &error), OrbInternetExit::ExitResultType::remoteResolved());
  EXPECT_FALSE(parseResultType("remote", &error));
  EXPECT_NE(error.find("result type \"remote\" does not exist"), std::string::npos);
}

// A notification's group is 16 bits: the pair splits at the last '/', and a wider group is
// refused with its value, not cut.
TEST(KeysTest, NotificationKeysAndComponents) {
  std::string error;
  const auto key = parseNotificationKey("10.1/65535", &error);
  ASSERT_TRUE(key) << error;
  EXPECT_EQ(*key, LaneSvcRemoteGroup(Lane::VniAndLaneId(Lane::VniId(10), 1), 65535));
  EXPECT_FALSE(parseNotificationKey("10.1", &error));
  EXPECT_EQ(error, "\"10.1\" is not a notification: expected <vni>.<lane>/<group>");
  EXPECT_FALSE(parseNotificationKey("300.1/2", &error));
  EXPECT_EQ(error, "value 300 out of range for vni (0..255) in notification \"300.1/2\"");

  EXPECT_EQ(parseComponent("IeProgramDpSm", &error), OrbInternetExit::Component::programDp);
  EXPECT_EQ(parseComponent("VniDefaultRouteTrackerSm", &error), OrbInternetExit::Component::vniDefaultRoute);
}

}  // namespace
}  // namespace IeSim
