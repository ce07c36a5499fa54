// NestedTestSm: a small state machine that exercises the mechanism on a nested input path and a
// nested output, for the runtime tests only.
//
// Inputs:  root.mids[m].leaves[l].value   (Root -> Mid -> Leaf, a notified int per leaf)
// Output:  out.mids[m].values              (OutRoot -> OutMid -> set of ints)
//
//   root.mids[].leaves[].value ──> evalLeaf ──> out.mids[ midKey ].values[ value ]   (source 0)
//   root.mids[]                ──> evalMid  ──> out.mids[ midKey ]                   (source 1)
//
// Invariant once ready: out.mids holds exactly the keys of root.mids, and out.mids[m].values
// holds exactly the non-zero values of m's leaves (0 means "unset" and is filtered out). Tests
// keep the values of distinct leaves distinct, so a set is enough.
//
// Source 0 comes first, so a removed mid has its values retracted one by one (through
// doDeleteAll of its nested input SMs) before evalMid deletes its container. A third output,
// dummyOutput, is never reconciled: declared last, it is ready once the other two are.
#pragma once

#include <fmt/format.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/mica/Entity.h"
#include "platform/trace/Trace.h"
#include "runtime/InputSm.h"
#include "runtime/Output.h"
#include "runtime/Path.h"
#include "runtime/ReadyOutput.h"
#include "runtime/StateMachine.h"
#include "runtime/internal/LevelSm.h"
#include "tests/support/TraceLevels.h"

namespace RtTest {

// ---- Input entities ----

class Leaf final : public Mica::Entity {
 public:
  enum : Mica::AttrId { valueId = 1 };
  explicit Leaf(int key) : key_(key) {}
  int key() const noexcept { return key_; }

  Mica::Scalar<int, valueId> value;
  void valueIs(int v) { value.set(*this, v); }

 private:
  int key_;
};

class Mid final : public Mica::Entity {
 public:
  enum : Mica::AttrId { leavesId = 1 };
  explicit Mid(int key) : key_(key) {}
  int key() const noexcept { return key_; }

  Mica::EntityMap<int, Leaf, leavesId> leaves;
  Mica::Ptr<Leaf> leavesIs(int k) { return leaves.create(*this, k); }
  // Leaf k with value v (created first when absent).
  Mica::Ptr<Leaf> leafIs(int k, int v) {
    auto leaf = leavesIs(k);
    leaf->valueIs(v);
    return leaf;
  }

 private:
  int key_;
};

class Root final : public Mica::Entity {
 public:
  enum : Mica::AttrId { midsId = 1 };
  Mica::EntityMap<int, Mid, midsId> mids;
  Mica::Ptr<Mid> midsIs(int k) { return mids.create(*this, k); }
  void midsDel(int k) { mids.erase(*this, k); }
};

// ---- Output entities ----

class OutMid final : public Mica::Entity {
 public:
  enum : Mica::AttrId { valuesId = 1 };
  explicit OutMid(int key) : key_(key) {}
  int key() const noexcept { return key_; }
  bool has(int v) const { return values.contains(v); }

  Mica::ValueSet<int, valuesId> values;
  void valuesIs(int v) { values.insert(*this, v); }
  void valuesDel(int v) { values.erase(*this, v); }

 private:
  int key_;
};

class OutRoot final : public Mica::Entity {
 public:
  enum : Mica::AttrId { midsId = 1 };
  bool has(int k) const { return mids.contains(k); }

  Mica::EntityMap<int, OutMid, midsId> mids;
  Mica::Ptr<OutMid> midsIs(int k) { return mids.create(*this, k); }
  void midsDel(int k) { mids.erase(*this, k); }
};

// ---- The state machine ----

class NestedTestSm final : public Flo::StateMachine {
 public:
  NestedTestSm(const Mica::Ptr<const Root>& root, const Mica::Ptr<OutRoot>& out, const Flo::SmControl& control);

  // Pipeline evalLeaf: one change of root.mids[midKey].leaves[leafKey].value.
  void eventToEvalLeaf(const int& midKey, const int& leafKey, const Quill::Optional<int>& oldValueOpt,
                       const Quill::Optional<int>& newValueOpt) {
    if (!initialScanDone()) return;
    ++leafEvents[{midKey, leafKey}];
    trace(Flo::kLevelPipeline,
          "evalLeaf = from( root.mids[].leaves[].value ): midKey={} leafKey={} oldValueOpt={} newValueOpt={}",
          midKey, leafKey, oldValueOpt, newValueOpt);
    const std::pair<Quill::Optional<int>, bool> steps[2] = {
        {oldValueOpt != newValueOpt ? oldValueOpt : Quill::Optional<int>(), false}, {newValueOpt, true}};
    for (const auto& [valueOpt, isAdd] : steps) {
      if (!valueOpt || *valueOpt == 0) {
        trace(Flo::kLevelFilter, "filter( _valueOpt3 ) failed, terminating pipeline");
        continue;
      }
      intoValues(midKey, *valueOpt, isAdd);
    }
  }

  // Pipeline evalMid: root.mids[midKey] added (element present) or removed (absent).
  void eventToEvalMid(const int& midKey, const Quill::Optional<Mica::Ptr<const Mid>>& midOpt) {
    if (!initialScanDone()) return;
    ++midEvents[midKey];
    midsOutput_->seen(midKey);
    if (midOpt) {
      trace(Flo::kLevelPipeline, "into( out.mids[ midKey ] ): inserting k1={}", midKey);
      valuesOutput_->containerSeen(out_->midsIs(midKey));
    } else {
      trace(Flo::kLevelPipeline, "into( out.mids[ midKey ] ): deleting k1={}", midKey);
      out_->midsDel(midKey);
    }
  }

  // Pipeline runs since the initial scan phase ended, per key (tests reset them).
  std::map<std::pair<int, int>, int> leafEvents;
  std::map<int, int> midEvents;
  Flo::ReadyOutput* dummyOutput = nullptr;

 private:
  struct MidsSpec : Flo::CollOutputSpec<OutRoot, &OutRoot::mids, &OutRoot::midsDel> {};
  struct ValuesSpec {
    using Container = OutMid;
    using ContainerKey = int;
    using Key = int;
    static int containerKey(const OutMid& m) { return m.key(); }
    static std::optional<int> first(const OutMid& m, const int* atOrAfter) {
      auto it = atOrAfter ? m.values.lowerBound(*atOrAfter) : m.values.begin();
      if (it == m.values.end()) return {};
      return *it;
    }
    static std::optional<int> next(const OutMid& m, const int& after) {
      auto it = m.values.upperBound(after);
      if (it == m.values.end()) return {};
      return *it;
    }
    static void erase(OutMid& m, const int& v) { m.valuesDel(v); }
  };

  void intoValues(int midKey, int value, bool isAdd) {
    if (isAdd) {
      Mica::Ptr<OutMid> m = out_->midsIs(midKey);
      midsOutput_->seen(midKey);
      valuesOutput_->seen(m, value);
      trace(Flo::kLevelPipeline, "into( out.mids[ midKey ].values[ value ] ): inserting k1={}, k2={}",
            midKey, value);
      m->valuesIs(value);
      return;
    }
    Mica::Ptr<OutMid> m = out_->mids.get(midKey);
    if (!m) return;
    valuesOutput_->seen(m, value);
    trace(Flo::kLevelPipeline, "into( out.mids[ midKey ].values[ value ] ): deleting k1={}, k2={}",
          midKey, value);
    m->valuesDel(value);
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

inline Mica::Ptr<NestedTestSm> nestedTestSmFactory(const Mica::Ptr<const Root>& root,
                                                   const Mica::Ptr<OutRoot>& out,
                                                   const Flo::SmControl& control) {
  Mica::Ptr<NestedTestSm> sm(new NestedTestSm(root, out, control));
  sm->handleInitialized();
  return sm;
}

// ---- Test helpers ----

// What the output holds: mid -> values.
using Contents = std::map<int, std::set<int>>;

inline Contents contentsOf(const OutRoot& out) {
  Contents c;
  for (const auto& [k, m] : out.mids) c[k] = std::set<int>(m->values.begin(), m->values.end());
  return c;
}

// What the output must hold for `root` once the state machine is ready.
inline Contents expectedFor(const Root& root) {
  Contents c;
  for (const auto& [k, m] : root.mids) {
    auto& values = c[k];
    for (const auto& [lk, leaf] : m->leaves) {
      if (leaf->value.get() != 0) values.insert(leaf->value.get());
    }
  }
  return c;
}

// Records the changes of an entity's one int-keyed collection as "+k" and "-k", in order.
template <class E>
class ChangeLog final : public Mica::Subscriber {
 public:
  explicit ChangeLog(Mica::Ptr<E> e) : e_(std::move(e)) { e_->subscriberAdd(this); }
  ~ChangeLog() { e_->subscriberRemove(this); }
  ChangeLog(const ChangeLog&) = delete;
  ChangeLog& operator=(const ChangeLog&) = delete;

  void onNotification(Mica::AttrId, const void* key, const void*) override {
    const int k = *static_cast<const int*>(key);
    log.push_back(fmt::format("{}{}", e_->has(k) ? '+' : '-', k));
  }
  std::vector<std::string> log;

 private:
  Mica::Ptr<E> e_;
};

// Levels 6 to 9: failed filters, pipelines, per-key handlers and yields, progress.
inline constexpr uint32_t kSmLevels = 0xFu << 6;

}  // namespace RtTest
