// The keys and results of the feature: defaults, equality over all fields, pair-first ordering,
// hashing, and the printed forms with their parsers.
#include <absl/container/flat_hash_set.h>
#include <absl/hash/hash_testing.h>
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/mica/Strep.h"
#include "types/ExitIntfResult.h"
#include "types/ExitKey.h"
#include "types/ExitType.h"
#include "types/GroupVniLaneKey.h"

namespace OrbInternetExit {
namespace {

using Mica::sequenceToValue;
using Mica::valueToStrep;

VniAndLaneId pair(uint16_t vni, uint16_t lane) { return VniAndLaneId(Lane::VniId(vni), lane); }

ExitVniLaneKey exitKey(std::string_view name, ExitType type, VniAndLaneId p) {
  return ExitVniLaneKey(ExitKey(Mica::String(name), type), p);
}

// ---- Generators ----

// Any parsable pair: VNI 0..256, any lane.
rc::Gen<VniAndLaneId> genPair() {
  return rc::gen::map(rc::gen::inRange<uint32_t>(0, 257u << 16),
                      [](uint32_t v) { return VniAndLaneId::fromValue(v); });
}

// Names from a small alphabet that includes every separator, so that equal names are common.
rc::Gen<std::string> genSmallName() {
  return rc::gen::mapcat(rc::gen::inRange<size_t>(0, 3), [](size_t n) {
    return rc::gen::container<std::string>(n, rc::gen::element('a', 'b', ':', '@', ' '));
  });
}

rc::Gen<ExitType> genExitType() {
  return rc::gen::map(rc::gen::inRange<uint8_t>(0, ExitType::maxValue + 1),
                      [](uint8_t v) { return *ExitType::fromValue(v); });
}

rc::Gen<ExitResultType> genResultType() {
  return rc::gen::map(rc::gen::inRange<uint8_t>(0, ExitResultType::maxValue + 1),
                      [](uint8_t v) { return *ExitResultType::fromValue(v); });
}

ExitVniLaneKey genExitVniLaneKey(const rc::Gen<std::string>& names) {
  return exitKey(*names, *genExitType(), *genPair());
}

GroupVniLaneKey genGroupKey(const rc::Gen<std::string>& names) {
  return GroupVniLaneKey(Mica::String(*names), *genPair());
}

ExitIntfResult genResult(const rc::Gen<std::string>& names) {
  auto intf = *rc::gen::suchThat(names, [](const std::string& s) {
    return s.find(" vrf=") == std::string::npos;
  });
  auto vrf = *rc::gen::resize(100, names);
  RC_PRE(vrf.size() <= 100);
  return ExitIntfResult(Wire::IntfId(intf), ExitIntfResult::VrfName(std::string_view(vrf)),
                        *rc::gen::arbitrary<uint32_t>(), *rc::gen::arbitrary<uint32_t>(),
                        *genResultType());
}

// The ordering agrees with equality, and equal values hash equal.
template <class T>
void checkOrderAndHash(const T& a, const T& b) {
  RC_ASSERT((a == b) == ((a <=> b) == 0));
  RC_ASSERT(a.isEq(b) == (a == b));
  RC_ASSERT((a <=> b) == (0 <=> (b <=> a)));
  if (a == b) {
    RC_ASSERT(a.hash(7) == b.hash(7));
    RC_ASSERT(std::hash<T>()(a) == std::hash<T>()(b));
    RC_ASSERT(absl::HashOf(a) == absl::HashOf(b));
  }
}

// ---- ExitType and ExitResultType ----

// The numbers are those of the data-path message; the names are the printed forms.
TEST(ExitTypeTest, NumbersNamesAndDefault) {
  EXPECT_EQ(ExitType(), ExitType::noExit());
  EXPECT_EQ(ExitResultType(), ExitResultType::noResult());
  const std::pair<ExitType, const char*> types[] = {{ExitType::noExit(), "noExit"},
                                                    {ExitType::localExit(), "localExit"},
                                                    {ExitType::remoteExit(), "remoteExit"},
                                                    {ExitType::fibDefault(), "fibDefault"}};
  const std::pair<ExitResultType, const char*> results[] = {
      {ExitResultType::noResult(), "noResult"},
      {ExitResultType::localDefaultVrf(), "localDefaultVrf"},
      {ExitResultType::localOtherVrf(), "localOtherVrf"},
      {ExitResultType::fibDefaultRoute(), "fibDefaultRoute"},
      {ExitResultType::remoteResolved(), "remoteResolved"}};
  const auto check = [](const auto& table) {
    using T = std::decay_t<decltype(table[0].first)>;
    for (uint8_t n = 0; n < std::size(table); ++n) {
      EXPECT_EQ(table[n].first.number(), n);
      EXPECT_EQ(T::fromValue(n), table[n].first);
      EXPECT_EQ(valueToStrep(table[n].first), table[n].second);
      EXPECT_EQ(sequenceToValue<T>(table[n].second), table[n].first);
    }
    EXPECT_FALSE(T::fromValue(std::size(table)));
  };
  check(types);
  check(results);
  for (const char* text : {"LocalExit", "1", ""}) EXPECT_FALSE(sequenceToValue<ExitType>(text));
  EXPECT_FALSE(sequenceToValue<ExitResultType>("remoteresolved"));
}

// ---- ExitKey and ExitVniLaneKey ----

// Keys of one pair sort together; keys differing only in type are distinct.
TEST(ExitVniLaneKeyTest, KeysOfOnePairAreAdjacent) {
  std::set<ExitVniLaneKey> keys{
      exitKey("z", ExitType::fibDefault(), pair(1, 0)),
      exitKey("a", ExitType::localExit(), pair(1, 1)),
      exitKey("m", ExitType::remoteExit(), pair(1, 0)),
      exitKey("a", ExitType::noExit(), pair(0, 65535)),
      exitKey("b", ExitType::localExit(), pair(1, 0)),
      exitKey("b", ExitType::remoteExit(), pair(1, 0)),
  };
  std::vector<std::string> printed;
  for (const auto& k : keys) printed.push_back(valueToStrep(k));
  EXPECT_EQ(printed, (std::vector<std::string>{"noExit:a@0.65535", "localExit:b@1.0",
                                               "remoteExit:b@1.0", "remoteExit:m@1.0", "fibDefault:z@1.0",
                                               "localExit:a@1.1"}));
}

TEST(ExitVniLaneKeyTest, PrintedForms) {
  EXPECT_EQ(valueToStrep(ExitKey("wan1", ExitType::localExit())), "localExit:wan1");
  EXPECT_EQ(valueToStrep(exitKey("wan1", ExitType::localExit(), pair(12, 3))),
            "localExit:wan1@12.3");
  EXPECT_EQ(valueToStrep(ExitVniLaneKey()), "noExit:@0.0");
  // Separators inside the name survive the round trip.
  auto odd = exitKey("a:b@c", ExitType::remoteExit(), pair(256, 65535));
  EXPECT_EQ(valueToStrep(odd), "remoteExit:a:b@c@256.65535");
  EXPECT_EQ(sequenceToValue<ExitVniLaneKey>(valueToStrep(odd)), odd);
}

// ---- GroupVniLaneKey ----

TEST(GroupVniLaneKeyTest, DefaultIsTheNoGroupValue) {
  GroupVniLaneKey none;
  EXPECT_EQ(none, GroupVniLaneKey("", pair(0, 0)));
  EXPECT_NE(none, GroupVniLaneKey("G1", pair(0, 0)));
  EXPECT_NE(none, GroupVniLaneKey(" ", pair(0, 0)));
  EXPECT_NE(none, GroupVniLaneKey("", pair(0, 1)));
  EXPECT_EQ(valueToStrep(none), "@0.0");
}

TEST(GroupVniLaneKeyTest, PrintedFormAndOrder) {
  EXPECT_EQ(valueToStrep(GroupVniLaneKey("G1", pair(12, 3))), "G1@12.3");
  EXPECT_EQ(sequenceToValue<GroupVniLaneKey>("a@b@7.8"), GroupVniLaneKey("a@b", pair(7, 8)));
  EXPECT_LT(GroupVniLaneKey("z", pair(1, 0)), GroupVniLaneKey("a", pair(1, 1)));
  EXPECT_LT(GroupVniLaneKey("a", pair(1, 1)), GroupVniLaneKey("b", pair(1, 1)));
}

// ---- ExitIntfResult ----

TEST(ExitIntfResultTest, DefaultsAndPrintedForm) {
  ExitIntfResult r;
  EXPECT_EQ(r, ExitIntfResult(Wire::IntfId(), "default", 0xFFFFFFFF, 0, ExitResultType()));
  EXPECT_EQ(valueToStrep(r), "intf= vrf=default gate=4294967295 aux=0 type=noResult");
  ExitIntfResult e(Wire::IntfId("Ethernet1"), "blue", 7, 3, ExitResultType::localOtherVrf());
  EXPECT_EQ(valueToStrep(e), "intf=Ethernet1 vrf=blue gate=7 aux=3 type=localOtherVrf");
  // Blanks and labels inside the VRF name are read as part of the name.
  ExitIntfResult odd(Wire::IntfId("e 1"), " vrf=x gate=1 aux=2 type=noResult", 0, 4294967295,
                     ExitResultType::remoteResolved());
  EXPECT_EQ(sequenceToValue<ExitIntfResult>(valueToStrep(odd)), odd);
}

TEST(ExitIntfResultTest, VrfNameIsAtMostOneHundredBytes) {
  const std::string hundred(100, 'v'), hundredAndOne(101, 'v');
  const auto type = ExitResultType::localOtherVrf();
  ExitIntfResult ok(Wire::IntfId("e1"), std::string_view(hundred), 1, 2, type);
  EXPECT_EQ(ok.vrfName.view(), hundred);
  EXPECT_THROW(ExitIntfResult(Wire::IntfId("e1"), std::string_view(hundredAndOne), 1, 2, type),
               Quill::RangeError);  // its text: BoundedStringTest
  // The parser rejects the same length instead of throwing.
  auto text = "intf=e1 vrf=" + hundredAndOne + " gate=1 aux=2 type=localOtherVrf";
  EXPECT_FALSE(sequenceToValue<ExitIntfResult>(text));
  EXPECT_EQ(sequenceToValue<ExitIntfResult>(valueToStrep(ok)), ok);
}

TEST(ExitIntfResultTest, EqualityCoversEveryField) {
  const ExitIntfResult base(Wire::IntfId("e1"), "blue", 7, 3, ExitResultType::localOtherVrf());
  std::vector<ExitIntfResult> variants(5, base);
  variants[0].intfId = Wire::IntfId("e2");
  variants[1].vrfName = "red";
  variants[2].gateId = 8;
  variants[3].auxId = 4;
  variants[4].resultType = ExitResultType::localDefaultVrf();
  for (const auto& v : variants) {
    EXPECT_NE(v, base) << valueToStrep(v);
    EXPECT_TRUE((v <=> base) != 0) << valueToStrep(v);
  }
  std::set<ExitIntfResult> ordered(variants.begin(), variants.end());
  ordered.insert(base);
  EXPECT_EQ(ordered.size(), 6u);
  EXPECT_TRUE(absl::VerifyTypeImplementsAbslHashCorrectly(
      {base, variants[0], variants[1], variants[2], variants[3], variants[4], ExitIntfResult()}));
}

// ---- All of them ----

// Texts that are not exactly a printed form parse to nothing.
TEST(ValueTypesTest, MalformedTextsParseToNothing) {
  for (std::string_view text : {"", "localExit:wan1", "wan1@1.2", ":wan1@1.2", "bogus:wan1@1.2",
                                "localExit:wan1@257.0", "localExit:wan1@1.65536",
                                "localExit:wan1@1", "localExit:wan1@1.2 ", "localExit:wan1@-1.2"}) {
    EXPECT_FALSE(sequenceToValue<ExitVniLaneKey>(text)) << text;
  }
  EXPECT_FALSE(sequenceToValue<ExitKey>("wan1"));
  EXPECT_FALSE(sequenceToValue<ExitKey>("localexit:wan1"));
  EXPECT_EQ(sequenceToValue<ExitKey>("localExit:"), ExitKey("", ExitType::localExit()));
  for (std::string_view text : {"", "G1", "G1@", "G1@1", "G1@1.2.3", "G1@300.1", "G1@1.x"}) {
    EXPECT_FALSE(sequenceToValue<GroupVniLaneKey>(text)) << text;
  }
  for (std::string_view text : {
           "", "intf=e1 vrf=blue gate=7 aux=3", "intf=e1 vrf=blue gate=7 type=noResult",
           "intf=e1 gate=7 aux=3 type=noResult", "e1 vrf=blue gate=7 aux=3 type=noResult",
           "intf=e1 vrf=blue gate=4294967296 aux=3 type=noResult",
           "intf=e1 vrf=blue gate=-1 aux=3 type=noResult", "intf=e1 vrf=blue gate=7 aux=x type=noResult",
           "intf=e1 vrf=blue gate=7 aux=3 type=none", "intf=e1 vrf=blue aux=3 gate=7 type=noResult",
           "intf=e1 vrf=blue gate=7 aux=3 type=noResult "}) {
    EXPECT_FALSE(sequenceToValue<ExitIntfResult>(text)) << text;
  }
}

RC_GTEST_PROP(ValueTypesProp, PrintedFormsParseBack, ()) {
  const auto names = rc::gen::arbitrary<std::string>();
  const auto k = genExitVniLaneKey(names);
  RC_ASSERT(sequenceToValue<ExitVniLaneKey>(valueToStrep(k)) == k);
  RC_ASSERT(sequenceToValue<ExitKey>(valueToStrep(k.exitKey)) == k.exitKey);
  const auto g = genGroupKey(names);
  RC_ASSERT(sequenceToValue<GroupVniLaneKey>(valueToStrep(g)) == g);
  const auto r = genResult(names);
  RC_ASSERT(sequenceToValue<ExitIntfResult>(valueToStrep(r)) == r);
}

// For the keys, a differing pair decides the order whatever the rest holds.
RC_GTEST_PROP(ValueTypesProp, OrderAgreesWithEqualityAndHashAndPairComesFirst, ()) {
  const auto a = genExitVniLaneKey(genSmallName()), b = genExitVniLaneKey(genSmallName());
  checkOrderAndHash(a, b);
  checkOrderAndHash(a.exitKey, b.exitKey);
  if (a.vniLaneId != b.vniLaneId) RC_ASSERT((a <=> b) == (a.vniLaneId <=> b.vniLaneId));
  const auto ga = genGroupKey(genSmallName()), gb = genGroupKey(genSmallName());
  checkOrderAndHash(ga, gb);
  if (ga.vniLaneId != gb.vniLaneId) RC_ASSERT((ga <=> gb) == (ga.vniLaneId <=> gb.vniLaneId));
  const auto ra = genResult(genSmallName());
  checkOrderAndHash(ra, *rc::gen::element(ra, genResult(genSmallName())));
}

}  // namespace
}  // namespace OrbInternetExit
