// The gate manager: numbering, reference counts per interface, per-module tables, dumps.
#include "platform/module/SiModuleGateManager.h"

#include <gtest/gtest.h>

#include "platform/engine/OrbCommonSmData.h"
#include "platform/mica/Assert.h"
#include "platform/module/Module.h"

namespace Orb {
namespace {

constexpr uint32_t noGate = SiModuleGateManager::noGate;

Mica::Ptr<Module> makeModule(const char* name, uint32_t maxOutGate, uint32_t reservedOutGate) {
  return Mica::make<Module>(name, OrbModule::ModuleClass::forwarding, 1, maxOutGate, 0,
                            reservedOutGate, nullptr, Mica::make<ModuleConfigStatusPair>());
}

class GateManagerTest : public testing::Test {
 protected:
  void TearDown() override { manager->checkInvariants(); }
  // The gates given to `module` for each interface, in order.
  std::vector<uint32_t> assign(const Mica::Ptr<Module>& m, std::initializer_list<Wire::IntfId> intfs) {
    std::vector<uint32_t> gates;
    for (const auto& intf : intfs) gates.push_back(manager->assignGate(m, intf));
    return gates;
  }

  Mica::ThrowingAssertions throwing;
  Mica::Ptr<OrbCommonSmData> orbcsd = Mica::make<OrbCommonSmData>();
  Mica::Ptr<SiModuleGateManager> manager = Mica::make<SiModuleGateManager>(orbcsd);
  Mica::Ptr<Module> module = makeModule("ie", 8, 2);
  const Wire::IntfId et1{"Ethernet1"}, et2{"Ethernet2"}, et3{"Ethernet3"};
};

TEST_F(GateManagerTest, NumbersStartAboveTheReservedGatesAndReuseTheLowestFree) {
  EXPECT_EQ(assign(module, {et1, et2, et3}), (std::vector<uint32_t>{2, 3, 4}));
  EXPECT_TRUE(manager->releaseGate(module, et2));
  EXPECT_TRUE(manager->releaseGate(module, et1));
  // Lowest free first, whatever the order of release.
  EXPECT_EQ(assign(module, {Wire::IntfId("Ethernet4"), Wire::IntfId("Ethernet5"), Wire::IntfId("Ethernet6")}),
            (std::vector<uint32_t>{2, 3, 5}));
}

// An exhausted, empty or inverted range, no module and the invalid interface get no gate and add
// no user; a release then frees nothing.
TEST_F(GateManagerTest, NoGateWithoutARangeModuleOrInterfaceAndModulesHaveSeparateTables) {
  auto small = makeModule("small", 3, 1);  // gates 1 and 2
  EXPECT_EQ(assign(small, {et1, et2, et3}), (std::vector<uint32_t>{1, 2, noGate}));
  EXPECT_EQ(manager->usersOf(*small, et3), 0u);
  EXPECT_FALSE(manager->releaseGate(small, et3));
  EXPECT_TRUE(manager->releaseGate(small, et1));
  EXPECT_EQ(manager->assignGate(small, et3), 1u);
  const auto none = makeModule("none", 4, 4), inverted = makeModule("inverted", 2, 5);
  for (const auto& m : {none, inverted, Mica::Ptr<Module>()}) EXPECT_EQ(manager->assignGate(m, et1), noGate);
  EXPECT_EQ(manager->assignGate(module, Wire::IntfId()), noGate);
  EXPECT_FALSE(manager->releaseGate(nullptr, et1));
  EXPECT_FALSE(manager->releaseGate(module, et1));  // module never asked before
  manager->releaseAllGates(nullptr);

  // Each module numbers its own gates; releasing all of one module's gates leaves the others'.
  auto other = makeModule("other", 8, 2);
  EXPECT_EQ(manager->assignGate(module, et1), 2u);
  EXPECT_EQ(assign(other, {et2, et1}), (std::vector<uint32_t>{2, 3}));
  EXPECT_FALSE(manager->releaseGate(module, et2));
  EXPECT_EQ(manager->gatesInUse(*module), 1u);
  EXPECT_EQ(manager->gatesInUse(*other), 2u);
  assign(module, {et1, et2});
  manager->releaseAllGates(module);
  EXPECT_EQ(manager->gatesInUse(*module), 0u);
  EXPECT_FALSE(manager->releaseGate(module, et1));
  EXPECT_EQ(manager->assignGate(module, et3), 2u);
  EXPECT_EQ(manager->gateOf(*other, et1), 3u);
}

TEST_F(GateManagerTest, DumpListsModulesInCreationOrderAndInterfacesByName) {
  auto other = makeModule("other", 4, 0);
  auto none = makeModule("none", 0, 0);
  assign(module, {et2, et1, et1});
  assign(none, {et1});
  assign(other, {et3});
  auto ctx = Mica::make<Keel::DumpContext>();
  manager->dumpState(ctx, 1);
  EXPECT_EQ(ctx->text(),
            " SiModuleGateManager\n"
            "   Module ie: gates 2..7\n"
            "     Ethernet1: gate 3 users 2\n"
            "     Ethernet2: gate 2 users 1\n"
            "   Module other: gates 0..3\n"
            "     Ethernet3: gate 0 users 1\n"
            "   Module none: no gates\n");
}

}  // namespace
}  // namespace Orb
