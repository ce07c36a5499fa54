// The engine's value types: interface ids, VRF ids and engine VNIs.
#include <absl/container/flat_hash_set.h>
#include <gtest/gtest.h>

#include <string>

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

// ---- Wire::IntfId ----

// Numbers and names map both ways in the data path's exit table, where the chain oracle checks
// them; a number never given must map to no interface at all.
TEST(IntfIdTest, ANumberNeverGivenMapsToNoInterface) { EXPECT_FALSE(IntfId::fromValue(UINT64_MAX)); }

TEST(IntfIdTest, PrintedFormIsTheName) {
  for (const char* name : {"", "Ethernet1", "Port-Channel 7.100", "a@b:c"}) {
    IntfId id(name);
    EXPECT_EQ(valueToStrep(id), name);
    EXPECT_EQ(sequenceToValue<IntfId>(valueToStrep(id)), id);
  }
}

// ---- Kiln::VrfId ----

TEST(VrfIdTest, PrintsAndParsesDecimal) {
  for (uint32_t v : {0u, 7u, 4294967295u}) {
    Kiln::VrfId id(v);
    EXPECT_EQ(sequenceToValue<Kiln::VrfId>(valueToStrep(id)), id);
  }
  EXPECT_EQ(valueToStrep(Kiln::VrfId(7)), "7");
  for (std::string_view text : {"", "-1", "+1", " 7", "7 ", "7x", "4294967296"}) {
    EXPECT_FALSE(sequenceToValue<Kiln::VrfId>(text)) << text;
  }
}

// ---- Vxlan::VniExtOrNone ----

// The default is none (all ones); usable is not none with the low sixteen bits at most 255, and
// only a usable value has a VniId.
TEST(VniExtOrNoneTest, UsableWhenNotNoneAndLowSixteenBitsAtMost255) {
  Mica::ThrowingAssertions throwing;
  EXPECT_EQ(VniExtOrNone(), VniExtOrNone::none());
  struct Case {
    uint32_t value;
    bool usable;
    uint16_t vni;
  };
  for (Case c : {Case{0, true, 0}, Case{255, true, 255}, Case{256, false, 0},
                 Case{0xFFFF, false, 0}, Case{0x10005, true, 5}, Case{0xABCD00FF, true, 255},
                 Case{0x12340100, false, 0}, Case{0xFFFF0000, true, 0}, Case{0xFFFFFFFE, false, 0},
                 Case{0xFFFFFFFF, false, 0}}) {
    VniExtOrNone v(c.value);
    EXPECT_EQ(v.isNone(), c.value == 0xFFFFFFFF) << c.value;
    EXPECT_EQ(v.usable(), c.usable) << c.value;
    if (c.usable) {
      EXPECT_EQ(v.vniId(), Lane::VniId(c.vni)) << c.value;
    } else {
      EXPECT_THROW(v.vniId(), Mica::AssertionError) << c.value;
    }
  }
}

TEST(VniExtOrNoneTest, PrintedForms) {
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
}

TEST(VniExtOrNoneTest, EqualityAndOrderCompareAll32Bits) {
  EXPECT_NE(VniExtOrNone(5), VniExtOrNone(0x10005));  // one VniId, see the table above
  EXPECT_LT(VniExtOrNone(5), VniExtOrNone(0x10005));
  absl::flat_hash_set<VniExtOrNone> hashed{VniExtOrNone(5), VniExtOrNone(0x10005), VniExtOrNone(5)};
  EXPECT_EQ(hashed.size(), 2u);
}

}  // namespace
