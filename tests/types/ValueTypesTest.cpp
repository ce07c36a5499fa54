// The keys and results of the feature: defaults, equality over all fields, pair-first ordering,
// hashing, and the printed forms with their parsers.
#include <absl/hash/hash_testing.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

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

// Any parsable pair: VNI 0..256, any lane.
rc::Gen<VniAndLaneId> genPair() {
  return rc::gen::map(rc::gen::inRange<uint32_t>(0, 257u << 16),
                      [](uint32_t v) { return VniAndLaneId::fromValue(v); });
}

// A few pairs, so that keys of one pair meet often.
rc::Gen<VniAndLaneId> genFewPairs() { return rc::gen::element(pair(0, 0), pair(1, 0), pair(1, 1), pair(256, 65535)); }

// Names of up to two parts, each a letter, a separator or a printed field, so that equal names
// are common and names that read like the printed form around them too.
rc::Gen<std::string> genSmallName() {
  return rc::gen::mapcat(rc::gen::inRange<size_t>(0, 3), [](size_t n) {
    return rc::gen::map(rc::gen::container<std::vector<std::string>>(
                            n, rc::gen::element<std::string>("a", "b", ":", "@", " ", "@7.8", " vrf=x", " gate=1")),
                        [](const std::vector<std::string>& parts) { return fmt::format("{}", fmt::join(parts, "")); });
  });
}

// Any value of an enumeration: ExitType or ExitResultType.
template <class E>
rc::Gen<E> genEnum() {
  return rc::gen::map(rc::gen::inRange<uint8_t>(0, E::maxValue + 1), [](uint8_t v) { return *E::fromValue(v); });
}

ExitVniLaneKey genExitVniLaneKey(const rc::Gen<std::string>& names, const rc::Gen<VniAndLaneId>& pairs = genPair()) {
  return exitKey(*names, *genEnum<ExitType>(), *pairs);
}

GroupVniLaneKey genGroupKey(const rc::Gen<std::string>& names, const rc::Gen<VniAndLaneId>& pairs = genPair()) {
  return GroupVniLaneKey(Mica::String(*names), *pairs);
}

ExitIntfResult genResult(const rc::Gen<std::string>& names) {
  auto intf = *rc::gen::suchThat(names, [](const std::string& s) { return s.find(" vrf=") == std::string::npos; });
  auto vrf = *rc::gen::resize(100, names);
  RC_PRE(vrf.size() <= 100);
  return ExitIntfResult(Wire::IntfId(intf), ExitIntfResult::VrfName(std::string_view(vrf)),
                        *rc::gen::arbitrary<uint32_t>(), *rc::gen::arbitrary<uint32_t>(),
                        *genEnum<ExitResultType>());
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

// The numbers and names meet the data path, the chain oracle and the scenario files; what these
// never ask for is refused: a number past the last and a name spelled otherwise.
TEST(ExitTypeTest, OnlyTheListedNumbersAndExactNamesExist) {
  EXPECT_FALSE(ExitType::fromValue(ExitType::maxValue + 1));
  EXPECT_FALSE(ExitResultType::fromValue(ExitResultType::maxValue + 1));
  for (const char* text : {"LocalExit", "1", ""}) EXPECT_FALSE(sequenceToValue<ExitType>(text));
  EXPECT_FALSE(sequenceToValue<ExitResultType>("remoteresolved"));
}

// The printed forms (separators and blanks inside a name survive the round trip: the property
// below). The default group key is the no-group value: the empty name on pair 0.0.
TEST(ValueTypesTest, PrintedFormsParseBack) {
  EXPECT_EQ(valueToStrep(ExitKey("wan1", ExitType::localExit())), "localExit:wan1");
  EXPECT_EQ(valueToStrep(exitKey("wan1", ExitType::localExit(), pair(12, 3))), "localExit:wan1@12.3");
  EXPECT_EQ(valueToStrep(ExitVniLaneKey()), "noExit:@0.0");
  EXPECT_EQ(valueToStrep(exitKey("a:b@c", ExitType::remoteExit(), pair(256, 65535))), "remoteExit:a:b@c@256.65535");
  EXPECT_EQ(valueToStrep(GroupVniLaneKey()), "@0.0");
  EXPECT_EQ(valueToStrep(GroupVniLaneKey("G1", pair(12, 3))), "G1@12.3");
  ExitIntfResult r;
  EXPECT_EQ(r, ExitIntfResult(Wire::IntfId(), "default", 0xFFFFFFFF, 0, ExitResultType()));
  EXPECT_EQ(valueToStrep(r), "intf= vrf=default gate=4294967295 aux=0 type=noResult");
}

TEST(ExitIntfResultTest, VrfNameIsAtMostOneHundredBytes) {
  const std::string hundred(100, 'v'), hundredAndOne(101, 'v');
  const auto type = ExitResultType::localOtherVrf();
  ExitIntfResult ok(Wire::IntfId("e1"), std::string_view(hundred), 1, 2, type);
  EXPECT_THROW(ExitIntfResult(Wire::IntfId("e1"), std::string_view(hundredAndOne), 1, 2, type),
               Quill::RangeError);  // its text: BoundedStringTest
  // The parser rejects the same length instead of throwing.
  auto text = "intf=e1 vrf=" + hundredAndOne + " gate=1 aux=2 type=localOtherVrf";
  EXPECT_FALSE(sequenceToValue<ExitIntfResult>(text));
  EXPECT_EQ(sequenceToValue<ExitIntfResult>(valueToStrep(ok)), ok);
}

// Equality and order are the defaulted ones; the hash is written out and must cover every field.
TEST(ExitIntfResultTest, HashCoversEveryField) {
  const ExitIntfResult base(Wire::IntfId("e1"), "blue", 7, 3, ExitResultType::localOtherVrf());
  std::vector<ExitIntfResult> variants(7, base);  // the first stays the base, each other differs in one field
  variants[1].intfId = Wire::IntfId("e2");
  variants[2].vrfName = "red";
  variants[3].gateId = 8;
  variants[4].auxId = 4;
  variants[5].resultType = ExitResultType::localDefaultVrf();
  variants[6] = ExitIntfResult();
  EXPECT_TRUE(absl::VerifyTypeImplementsAbslHashCorrectly(variants));
}

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

RC_GTEST_PROP(ValueTypesProp, AnyPrintedFormParsesBack, ()) {
  const auto names = rc::gen::oneOf(rc::gen::arbitrary<std::string>(), genSmallName());
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
  const auto a = genExitVniLaneKey(genSmallName(), genFewPairs()), b = genExitVniLaneKey(genSmallName(), genFewPairs());
  checkOrderAndHash(a, b);
  checkOrderAndHash(a.exitKey, b.exitKey);
  if (a.vniLaneId != b.vniLaneId) RC_ASSERT((a <=> b) == (a.vniLaneId <=> b.vniLaneId));
  const auto ga = genGroupKey(genSmallName(), genFewPairs()), gb = genGroupKey(genSmallName(), genFewPairs());
  checkOrderAndHash(ga, gb);
  if (ga.vniLaneId != gb.vniLaneId) RC_ASSERT((ga <=> gb) == (ga.vniLaneId <=> gb.vniLaneId));
  const auto ra = genResult(genSmallName());
  checkOrderAndHash(ra, *rc::gen::element(ra, genResult(genSmallName())));
}

}  // namespace
}  // namespace OrbInternetExit
