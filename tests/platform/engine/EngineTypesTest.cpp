// The engine's value types: interface ids, VRF ids and engine VNIs.
#include <absl/container/flat_hash_set.h>
#include <gtest/gtest.h>

#include <string_view>
#include <tuple>

#include "platform/engine/IntfId.h"
#include "platform/engine/VniExtOrNone.h"
#include "platform/engine/VrfId.h"
#include "platform/mica/Assert.h"
#include "platform/mica/Strep.h"

namespace {

using Mica::sequenceToValue;
using Mica::valueToStrep;
using Vxlan::VniExtOrNone;
using Wire::IntfId;

// Numbers and names map both ways in the data path's exit table, where the chain oracle checks
// them; a number never given must map to no interface at all.
TEST(IntfIdTest, PrintedFormIsTheNameAndANumberNeverGivenMapsToNoInterface) {
  for (const char* name : {"", "Ethernet1", "Port-Channel 7.100", "a@b:c"}) {
    IntfId id(name);
    EXPECT_EQ(valueToStrep(id), name);
    EXPECT_EQ(sequenceToValue<IntfId>(valueToStrep(id)), id);
  }
  EXPECT_FALSE(IntfId::fromValue(UINT64_MAX));
}

TEST(VrfIdTest, PrintsAndParsesDecimal) {
  for (uint32_t v : {0u, 7u, 4294967295u}) EXPECT_EQ(sequenceToValue<Kiln::VrfId>(valueToStrep(Kiln::VrfId(v))), Kiln::VrfId(v));
  EXPECT_EQ(valueToStrep(Kiln::VrfId(7)), "7");
  for (std::string_view text : {"", "-1", "+1", " 7", "7 ", "7x", "4294967296"}) {
    EXPECT_FALSE(sequenceToValue<Kiln::VrfId>(text)) << text;
  }
}

// The default is none (all ones); usable is not none with the low sixteen bits at most 255, and
// only a usable value has a VniId.
TEST(VniExtOrNoneTest, UsableWhenNotNoneAndLowSixteenBitsAtMost255PrintedAndOrdered) {
  Mica::ThrowingAssertions throwing;
  EXPECT_EQ(VniExtOrNone(), VniExtOrNone::none());
  // {value, usable, its VniId}
  for (const auto& [value, usable, vni] :
       {std::tuple{0u, true, 0}, {255u, true, 255}, {256u, false, 0}, {0xFFFFu, false, 0}, {0x10005u, true, 5},
        {0xABCD00FFu, true, 255}, {0x12340100u, false, 0}, {0xFFFF0000u, true, 0}, {0xFFFFFFFEu, false, 0},
        {0xFFFFFFFFu, false, 0}}) {
    VniExtOrNone v(value);
    EXPECT_EQ(v.isNone(), value == 0xFFFFFFFF) << value;
    EXPECT_EQ(v.usable(), usable) << value;
    if (usable) {
      EXPECT_EQ(v.vniId(), Lane::VniId(vni)) << value;
    } else {
      EXPECT_THROW(v.vniId(), Mica::AssertionError) << value;
    }
  }
  // Printed forms, and equality and order over all 32 bits.
  EXPECT_EQ(valueToStrep(VniExtOrNone::Optional()), "None");
  EXPECT_EQ(valueToStrep(VniExtOrNone::Optional(VniExtOrNone::none())), "noVni");
  for (uint32_t v : {0u, 255u, 256u, 0x10005u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
    VniExtOrNone vni(v);
    EXPECT_EQ(sequenceToValue<VniExtOrNone>(valueToStrep(vni)), vni) << v;
  }
  EXPECT_EQ(sequenceToValue<VniExtOrNone>("4294967295"), VniExtOrNone::none());
  for (std::string_view text : {"", "None", "none", "-1", "12 ", "4294967296"}) {
    EXPECT_FALSE(sequenceToValue<VniExtOrNone>(text)) << text;
  }
  EXPECT_NE(VniExtOrNone(5), VniExtOrNone(0x10005));  // one VniId, see the table above
  EXPECT_LT(VniExtOrNone(5), VniExtOrNone(0x10005));
  absl::flat_hash_set<VniExtOrNone> hashed{VniExtOrNone(5), VniExtOrNone(0x10005), VniExtOrNone(5)};
  EXPECT_EQ(hashed.size(), 2u);
}

}  // namespace
