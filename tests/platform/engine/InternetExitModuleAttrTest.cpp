// OrbCommonSmData::internetExitModule: an attribute change carrying the old module, with the
// new one readable at once. Needs the module layer (ie_module) for a real Orb::Module.
#include <gtest/gtest.h>

#include <vector>

#include "platform/engine/OrbCommonSmData.h"
#include "platform/module/Module.h"

namespace {

using Orb::Module;
using Orb::OrbCommonSmData;

Mica::Ptr<Module> module(const char* name) {
  return Mica::make<Module>(name, Orb::OrbModule::ModuleClass::none, 0, 0, 0, 0, nullptr,
                            nullptr);
}

// Records (old module, new module) names per notification of internetExitModule.
struct ModuleLog : Mica::Subscriber {
  const OrbCommonSmData* csd;
  std::vector<std::string> events;
  void onNotification(Mica::AttrId attr, const void* key, const void* old) override {
    ASSERT_EQ(attr, OrbCommonSmData::internetExitModuleId);
    EXPECT_EQ(key, nullptr);
    const auto& prev = *static_cast<const Mica::Ptr<Module>*>(old);
    const auto& now = csd->internetExitModule.get();
    events.push_back((prev ? prev->name().str() : "null") + "->" +
                     (now ? now->name().str() : "null"));
  }
};

TEST(InternetExitModuleAttrTest, ChangesNotifyWithOldAndNewValues) {
  auto csd = Mica::make<OrbCommonSmData>();
  ModuleLog log;
  log.csd = csd.get();
  csd->subscriberAdd(&log);
  auto a = module("ie-a");
  csd->internetExitModuleIs(a);
  csd->internetExitModuleIs(a);  // same module: no change
  csd->internetExitModuleIs(module("ie-b"));
  csd->internetExitModuleIs(nullptr);
  csd->subscriberRemove(&log);
  EXPECT_EQ(log.events, (std::vector<std::string>{"null->ie-a", "ie-a->ie-b", "ie-b->null"}));
  // The entity held the last reference to ie-b; `a` is ours alone again.
  EXPECT_EQ(a->refCount(), 1u);
}

TEST(InternetExitModuleAttrTest, DestroyingTheStateReleasesTheModule) {
  auto a = module("ie-a");
  {
    auto csd = Mica::make<OrbCommonSmData>();
    csd->internetExitModuleIs(a);
    EXPECT_EQ(a->refCount(), 2u);
  }
  EXPECT_EQ(a->refCount(), 1u);
}

}  // namespace
