// NestedTestSm: a small state machine that exercises the mechanism on a nested input path and a
// nested output, for the runtime tests only.
//
// Inputs:  root.mids[m].leaves[l].value   (Root -> Mid -> Leaf, a notified int per leaf)
// Output:  out.mids[m].values              (OutRoot -> OutMid -> set of ints)
//
//   root.mids[].leaves[].value ──> evalLeaf ──> out.mids[ midKey ].values[ value ]   (source 0)
//   root.mids[]                ──> evalMid  ──> out.mids[ midKey ]                   (source 1)
//
// Once ready, out.mids holds the keys of root.mids, each with the non-zero values of its leaves
// (tests keep them distinct). Source 0 comes first, so a removed mid has its values retracted
// one by one before evalMid deletes its container. dummyOutput, declared last, is never
// reconciled: it is ready once the other two are.
#pragma once

#include <fmt/format.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/mica/Entity.h"
#include "runtime/InputSm.h"
#include "runtime/Operators.h"
#include "runtime/Output.h"
#include "runtime/Path.h"
#include "runtime/ReadyOutput.h"
#include "runtime/StateMachine.h"
#include "runtime/internal/LevelSm.h"
#include "tests/support/TraceLevels.h"
#include "tests/support/TreeLog.h"

namespace RtTest {

// An entity known by an int key, as the maps of these tests hold them.
class Keyed : public Mica::Entity {
 public:
  explicit Keyed(int key) : key_(key) {}
  int key() const noexcept { return key_; }

 private:
  int key_;
};

struct Leaf final : Keyed {
  enum : Mica::AttrId { valueId = 1 };
  using Keyed::Keyed;

  Mica::Scalar<int, valueId> value;
  void valueIs(int v) { value.set(*this, v); }
};

struct Mid final : Keyed {
  enum : Mica::AttrId { leavesId = 1 };
  using Keyed::Keyed;

  Mica::EntityMap<int, Leaf, leavesId> leaves;
  // Leaf k with value v (created first when absent).
  Mica::Ptr<Leaf> leafIs(int k, int v) {
    auto leaf = leaves.create(*this, k);
    leaf->valueIs(v);
    return leaf;
  }
};

struct Root final : Mica::Entity {
  enum : Mica::AttrId { midsId = 1 };
  Mica::EntityMap<int, Mid, midsId> mids;
  Mica::Ptr<Mid> midsIs(int k) { return mids.create(*this, k); }
};

struct OutMid final : Keyed {
  enum : Mica::AttrId { valuesId = 1 };
  using Keyed::Keyed;
  bool has(int v) const { return values.contains(v); }

  Mica::ValueSet<int, valuesId> values;
  void valuesIs(int v) { values.insert(*this, v); }
  void valuesDel(int v) { values.erase(*this, v); }
};

struct OutRoot final : Mica::Entity {
  enum : Mica::AttrId { midsId = 1 };
  bool has(int k) const { return mids.contains(k); }

  Mica::EntityMap<int, OutMid, midsId> mids;
  Mica::Ptr<OutMid> midsIs(int k) { return mids.create(*this, k); }
  void midsDel(int k) { mids.erase(*this, k); }
};

class NestedTestSm final : public Flo::StateMachine {
 public:
  NestedTestSm(const Mica::Ptr<const Root>& root, const Mica::Ptr<OutRoot>& out, const Flo::SmControl& control);

  // Pipeline evalLeaf: one change of root.mids[midKey].leaves[leafKey].value.
  void eventToEvalLeaf(const int& midKey, const int& leafKey, const Quill::Optional<int>& oldValueOpt,
                       const Quill::Optional<int>& newValueOpt) {
    if (!initialScanDone()) return;
    ++leafEvents[{midKey, leafKey}];
    Flo::foreachChange(*this, " foreach( [ _old, _new ] ) flattening {} elements", oldValueOpt, newValueOpt,
                       [&](const Quill::Optional<int>& valueOpt, bool isAdd) {
                         if (valueOpt && *valueOpt != 0) intoValues(midKey, *valueOpt, isAdd);
                       });
  }

  // Pipeline evalMid: root.mids[midKey] added (element present) or removed (absent).
  void eventToEvalMid(const int& midKey, const Quill::Optional<Mica::Ptr<const Mid>>& midOpt) {
    if (!initialScanDone()) return;
    ++midEvents[midKey];
    midsOutput_->seen(midKey);
    if (midOpt) {
      valuesOutput_->containerSeen(out_->midsIs(midKey));
    } else {
      out_->midsDel(midKey);
    }
  }

  // Pipeline runs since the initial scan phase ended, per key (tests reset them).
  std::map<std::pair<int, int>, int> leafEvents;
  std::map<int, int> midEvents;
  Flo::ReadyOutput* dummyOutput = nullptr;

 private:
  struct MidsSpec : Flo::CollOutputSpec<OutRoot, &OutRoot::mids, &OutRoot::midsDel> {};
  struct ValuesSpec : Flo::CollOutputSpec<OutMid, &OutMid::values, &OutMid::valuesDel> {
    using Container = OutMid;
    static int containerKey(const OutMid& m) { return m.key(); }
  };

  void intoValues(int midKey, int value, bool isAdd) {
    Mica::Ptr<OutMid> m = isAdd ? out_->midsIs(midKey) : out_->mids.get(midKey);
    if (!m) return;
    if (isAdd) midsOutput_->seen(midKey);
    valuesOutput_->seen(m, value);
    if (isAdd) {
      m->valuesIs(value);
    } else {
      m->valuesDel(value);
    }
  }

  Mica::Ptr<const Root> root_;
  Mica::Ptr<OutRoot> out_;
  Flo::TopOutput<MidsSpec>* midsOutput_ = nullptr;
  Flo::NestedOutput<ValuesSpec>* valuesOutput_ = nullptr;
};

namespace detail {
using LeafValuePath = Flo::Path<NestedTestSm, &NestedTestSm::eventToEvalLeaf,
                                Flo::Level<&Root::mids, "RootSm0", "mids">,
                                Flo::Level<&Mid::leaves, "MidSm1", "leaves">,
                                Flo::Level<&Leaf::value, "LeafSm2", "value">>;
using MidPath = Flo::Path<NestedTestSm, &NestedTestSm::eventToEvalMid,
                          Flo::Level<&Root::mids, "RootSm0", "mids">>;
}  // namespace detail

inline NestedTestSm::NestedTestSm(const Mica::Ptr<const Root>& root, const Mica::Ptr<OutRoot>& out,
                                  const Flo::SmControl& control)
    : StateMachine("RtTest", "NestedTestSm", control), root_(root), out_(out) {
  argIs("root()", root_.get());
  argIs("out()", out_.get());
  const size_t evalLeaf = pipelineIs("evalLeaf");
  const size_t evalMid = pipelineIs("evalMid");
  auto& rootSm0 = inputIs(std::make_unique<Flo::InputArgSm<Root>>(*this, "RootSm0", root_));
  rootSm0.sourceIs<Flo::internal::TopLevel<detail::LeafValuePath>>(0, evalLeaf);
  rootSm0.sourceIs<Flo::internal::TopLevel<detail::MidPath>>(1, evalMid);
  midsOutput_ = &outputIs(std::make_unique<Flo::TopOutput<MidsSpec>>(*this, "outMidsOutput",
                                                                      std::vector<size_t>{evalLeaf, evalMid}, out_));
  // Waits for evalMid too: it records the containers that exist, so that a container whose
  // leaves produce nothing is still walked for stale values.
  valuesOutput_ = &outputIs(std::make_unique<Flo::NestedOutput<ValuesSpec>>(
      *this, "outMidValuesOutput", std::vector<size_t>{evalLeaf, evalMid}));
  dummyOutput = &outputIs(std::make_unique<Flo::ReadyOutput>(*this, "dummyOutput", std::vector<size_t>{evalMid}));
}

// What the output holds: mid -> values.
using Contents = std::map<int, std::set<int>>;

inline Contents contentsOf(const OutRoot& out) {
  Contents c;
  for (const auto& [k, m] : out.mids) c[k] = std::set<int>(m->values.begin(), m->values.end());
  return c;
}

// Logs the changes of an entity's own int-keyed collection as "+k" and "-k", in order.
template <class E>
IeTest::TreeLog changeLog(const Mica::Ptr<E>& entity) {
  return IeTest::TreeLog(entity, [e = entity.get()](const Mica::Entity& source, Mica::AttrId, const void* key, const void*) {
    if (&source != e) return std::string();
    const int k = *static_cast<const int*>(key);
    return fmt::format("{}{}", e->has(k) ? '+' : '-', k);
  });
}

// Levels 6 to 9: failed filters, pipelines, per-key handlers and yields, progress.
inline constexpr uint32_t kSmLevels = 0xFu << 6;

}  // namespace RtTest
