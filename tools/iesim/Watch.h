// What the simulator sees of the outputs: each output's changes, as a person reads them, in the
// order of the notifications that made them.
//
// An OutputLog collects the changes of one output ("+ Gold@10.1", "- 10", "~ ...") and counts
// them while counting is on (off for the start state and for direct writes of set_output). The
// watchers subscribe to an output entity and to every entity below it, following creations and
// deletions, and write one change per fact:
//
//   polToVniLane, the default-route sets   one member
//   statusConfig                           a pair, a group, an option, a policy, an entry
//                                          (an entry naming another group is one "~" change)
//   groupToPolicy                          one (group, policy) member
//   exitOption                             an option, a group membership, a result ("~")
//   resolverRequest                        one request
//   exitGroup                              a result of a group ("~": overwritten in place); a
//                                          group going down is a note, not counted
//   policyStatus                           an exit interface of a policy; its winning group
//                                          ("~"); a status going is a note, not counted
//   svcInUse                               one notification
//
// A child entity created with contents (EntityMap::create with an initializer) or deleted with
// contents reports its contents with it. Watchers only read; they are destroyed before the
// entities they watch and unsubscribe then. Cost: one subscriber per output, nothing per element
// (an element's context, such as an entry's policy, is read from its owner when it changes), so
// that a million pairs cost the simulator no memory beyond the library's.
#pragma once

#include <absl/container/flat_hash_set.h>
#include <fmt/format.h>

#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/mica/Entity.h"
#include "types/IeExitGroupDir.h"
#include "types/IeExitOptionDir.h"
#include "types/IeGroupToPolicyDir.h"
#include "types/IePolicyDir.h"
#include "types/IeStatusConfigDir.h"

namespace IeSim {

struct ChangeCounts {
  uint64_t added = 0;
  uint64_t removed = 0;
  uint64_t changed = 0;
};

// The first lines of a step's changes and the count of the others: the report shows this many
// per output and counts the rest, so a step that touches a million pairs formats a few lines,
// not a million.
class KeptLines {
 public:
  static constexpr size_t kKept = 16;

  // Keeps the line `make()` builds while fewer than kKept are kept, otherwise counts it without
  // calling `make`.
  template <class Make>
  void add(Make&& make) {
    if (lines_.size() == kKept) {
      ++more_;
      return;
    }
    lines_.push_back(std::forward<Make>(make)());
  }
  bool empty() const noexcept { return lines_.empty(); }
  // The lines kept since the last call; `more` is set to the number of lines beyond those.
  std::vector<std::string> take(size_t& more) {
    more = std::exchange(more_, 0);
    return std::exchange(lines_, {});
  }

 private:
  std::vector<std::string> lines_;
  size_t more_ = 0;
};

class OutputLog {
 public:
  static constexpr size_t kLinesKept = KeptLines::kKept;

  explicit OutputLog(std::string name) : name_(std::move(name)) {}

  const std::string& name() const noexcept { return name_; }
  // One change: `op` is '+', '-' or '~'. The text is formatted only while lines are kept.
  template <class... A>
  void record(char op, fmt::format_string<A...> text, A&&... args) {
    if (counting_) ++(op == '+' ? counts_.added : op == '-' ? counts_.removed : counts_.changed);
    lines_.add([&] {
      std::string line{op, ' '};
      fmt::format_to(std::back_inserter(line), text, std::forward<A>(args)...);
      return line;
    });
  }
  // A line that is no change of its own (it explains the changes around it): not counted.
  template <class... A>
  void note(fmt::format_string<A...> text, A&&... args) {
    lines_.add([&] { return fmt::format(text, std::forward<A>(args)...); });
  }
  // The changes since the last call, "<op> <text>" each, at most KeptLines::kKept of them;
  // `more` is set to the number of changes beyond those.
  std::vector<std::string> take(size_t& more) { return lines_.take(more); }

  void countingIs(bool on) noexcept { counting_ = on; }
  const ChangeCounts& counts() const noexcept { return counts_; }
  void resetCounts() noexcept { counts_ = {}; }

 private:
  std::string name_;
  KeptLines lines_;
  ChangeCounts counts_;
  bool counting_ = true;
};

// One member change per notification of a value set (membership tells addition from deletion).
template <class Set>
class SetWatch final : private Mica::Subscriber {
 public:
  SetWatch(const Mica::Entity& owner, const Set& set, OutputLog& log)
      : owner_(owner), set_(set), log_(log) {
    owner_.subscriberAdd(this);
  }
  ~SetWatch() { owner_.subscriberRemove(this); }
  SetWatch(const SetWatch&) = delete;
  SetWatch& operator=(const SetWatch&) = delete;

 private:
  void onNotification(Mica::AttrId attr, const void* key, const void*) override {
    if (attr != Set::attrId) return;
    const auto& k = *static_cast<const typename Set::Key*>(key);
    log_.record(set_.contains(k) ? '+' : '-', "{}", k);
  }

  const Mica::Entity& owner_;
  const Set& set_;
  OutputLog& log_;
};

// A watcher of a tree of entities: one subscriber on its root that receives the root's own
// notifications and those of every entity below it. A derived class tells the kinds of entity
// apart by their place in the tree (depth and the collection holding them) and knows what their
// notifications mean. What the tree holds when the watcher is made is not recorded.
class TreeWatch : private Mica::Subscriber {
 public:
  TreeWatch(const Mica::Entity& root, OutputLog& log);
  virtual ~TreeWatch();
  TreeWatch(const TreeWatch&) = delete;
  TreeWatch& operator=(const TreeWatch&) = delete;

 protected:
  // A notification of `source`: the root itself or an entity below it.
  virtual void handle(const Mica::Entity& source, Mica::AttrId attr, const void* key,
                      const void* oldValue) = 0;
  // How far below the root `e` is (0 for the root).
  unsigned depthOf(const Mica::Entity& e) const noexcept;

  const Mica::Entity& root_;
  OutputLog& log_;

 private:
  void onNotification(Mica::AttrId attr, const void* key, const void* oldValue) override {
    handle(root_, attr, key, oldValue);
  }
  void onDescendantNotification(const Mica::Entity& source, Mica::AttrId attr, const void* key,
                                const void* oldValue) override {
    handle(source, attr, key, oldValue);
  }
};

// IeStatusConfigDir and everything below it.
class StatusConfigWatch final : public TreeWatch {
 public:
  StatusConfigWatch(const OrbInternetExit::IeStatusConfigDir& dir, OutputLog& log);

 private:
  void handle(const Mica::Entity& source, Mica::AttrId attr, const void* key,
              const void* oldValue) override;
  // Records a child and its contents as added (`op` '+') or removed (`op` '-').
  void pair(const OrbInternetExit::IeStatusConfig& e, char op);
  void group(const OrbInternetExit::ExitGroupStatusConfig& e, char op);
  void policy(const OrbInternetExit::PolicyStatusConfig& e, char op);
  void entry(const OrbInternetExit::PolicyStatusConfig& policy,
             const OrbInternetExit::PolicyStatusExitGroupEntry& e, char op);
};

// IeGroupToPolicyDir and its groups' policy sets.
class GroupToPolicyWatch final : public TreeWatch {
 public:
  GroupToPolicyWatch(const OrbInternetExit::IeGroupToPolicyDir& dir, OutputLog& log);

 private:
  void handle(const Mica::Entity& source, Mica::AttrId attr, const void* key,
              const void* oldValue) override;
  void group(const OrbInternetExit::ExitGroupToPolicy& e, char op);
};

// IeExitOptionDir: options, their groups and their results.
class ExitOptionWatch final : public TreeWatch {
 public:
  ExitOptionWatch(const OrbInternetExit::IeExitOptionDir& dir, OutputLog& log);

 private:
  void handle(const Mica::Entity& source, Mica::AttrId attr, const void* key,
              const void* oldValue) override;
  void option(const OrbInternetExit::ExitOptionStatus& e, char op);
};

// IeExitGroupDir: the results of each group. Also keeps, until takeTouched(), which (group,
// option) pairs changed, so that a step's report can say why a policy changed.
class ExitGroupWatch final : public TreeWatch {
 public:
  struct Touch {
    OrbInternetExit::GroupVniLaneKey group;
    OrbInternetExit::ExitVniLaneKey option;
    char op;  // '+', '-' or '~'
  };
  ExitGroupWatch(const OrbInternetExit::IeExitGroupDir& dir, OutputLog& log);
  std::vector<Touch> takeTouched() { return std::exchange(touched_, {}); }

 private:
  void handle(const Mica::Entity& source, Mica::AttrId attr, const void* key,
              const void* oldValue) override;
  void group(const OrbInternetExit::ExitGroupStatus& e, char op);
  void result(const OrbInternetExit::GroupVniLaneKey& g, const OrbInternetExit::ExitVniLaneKey& o,
              const OrbInternetExit::ExitIntfResult& r, char op);
  std::vector<Touch> touched_;
};

// IePolicyDir: each policy's exit interfaces and winning group, in the order they are written.
// Also keeps, until takeTouched(), the policies that changed.
class PolicyStatusWatch final : public TreeWatch {
 public:
  PolicyStatusWatch(const OrbInternetExit::IePolicyDir& dir, OutputLog& log);
  std::vector<OrbInternetExit::PolicyVniLaneKey> takeTouched() {
    touchedSet_.clear();
    return std::exchange(touched_, {});
  }

 private:
  void handle(const Mica::Entity& source, Mica::AttrId attr, const void* key,
              const void* oldValue) override;
  void policy(const OrbInternetExit::PolicyStatus& e, char op);
  void touch(const OrbInternetExit::PolicyVniLaneKey& k);
  std::vector<OrbInternetExit::PolicyVniLaneKey> touched_;  // in the order first touched
  absl::flat_hash_set<OrbInternetExit::PolicyVniLaneKey> touchedSet_;
};

// A result as the report shows it: "localOtherVrf intf=wan1 vrf=blue gate=3 aux=7", the
// interface left out when there is none, the VRF when it is "default", and 0xFFFFFFFF shown as
// "none"; e.g. "noResult gate=none aux=0".
std::string resultText(const OrbInternetExit::ExitIntfResult& r);

// "10" for a whole sequence number, else its shortest decimal form ("10.5").
std::string seqText(double seqNo);

// resultText and seqText as format arguments, formatted only when the line is kept: a watcher
// sees every change of a million pairs and keeps a few lines.
struct ResultAsText {
  const OrbInternetExit::ExitIntfResult& result;
};
struct SeqAsText {
  double seqNo;
};

}  // namespace IeSim

template <>
struct fmt::formatter<IeSim::ResultAsText> : fmt::formatter<std::string_view> {
  auto format(const IeSim::ResultAsText& r, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(IeSim::resultText(r.result), ctx);
  }
};
template <>
struct fmt::formatter<IeSim::SeqAsText> : fmt::formatter<std::string_view> {
  auto format(const IeSim::SeqAsText& s, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(IeSim::seqText(s.seqNo), ctx);
  }
};
