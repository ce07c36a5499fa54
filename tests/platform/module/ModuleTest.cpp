// The module base: the class chain behind moduleCast, the generic child dump.
#include "platform/module/Module.h"

#include <gtest/gtest.h>

namespace Orb {
namespace {

struct Exit : Module {
  static constexpr TypeData kType{"Exit", &Module::kType};
  using Module::Module;
  const TypeData& typeData() const override { return kType; }
};

struct Edge : Exit {
  static constexpr TypeData kType{"Edge", &Exit::kType};
  using Exit::Exit;
  const TypeData& typeData() const override { return kType; }
};

struct Other : Module {
  static constexpr TypeData kType{"Other", &Module::kType};
  using Module::Module;
  const TypeData& typeData() const override { return kType; }
};

template <class T>
Mica::Ptr<Module> make(const char* name) {
  return Mica::make<T>(name, OrbModule::ModuleClass::forwarding, 1, 2, 3, 4, nullptr, nullptr);
}

TEST(ModuleTest, ModuleCastAcceptsTheClassAndItsDescendantsOnlyAndDumpChildWritesNone) {
  const auto exit = make<Exit>("x"), edge = make<Edge>("e"), other = make<Other>("o"),
             base = make<Module>("b");
  EXPECT_EQ(moduleCast<Exit>(exit).get(), exit.get());
  EXPECT_EQ(moduleCast<Exit>(edge).get(), edge.get());
  EXPECT_EQ(moduleCast<Edge>(exit), nullptr);
  EXPECT_EQ(moduleCast<Exit>(other), nullptr);
  EXPECT_EQ(moduleCast<Exit>(base), nullptr);
  EXPECT_EQ(moduleCast<Module>(other).get(), other.get());
  EXPECT_EQ(moduleCast<Exit>(nullptr), nullptr);
  auto ctx = Mica::make<Keel::DumpContext>();
  dumpChild(ctx, "child", base.get(), 2);
  dumpChild<Module>(ctx, "child", nullptr, 4);
  dumpChild<Module>(ctx, "child", nullptr, 0);
  EXPECT_EQ(ctx->text(), "  Module b\n    child: none\nchild: none\n");
}

}  // namespace
}  // namespace Orb
