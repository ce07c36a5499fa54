// Helpers for the default-route tracker tests: a log of output-set notifications and a capture
// of the trackers' trace messages.
#pragma once

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Orb/OrbSiEdgeHelper.h"
#include "platform/trace/Trace.h"
#include "tests/support/TraceLevels.h"

namespace SiEdgeHelperTest {

using Strings = std::vector<std::string>;

// Subscribes to one output set and records "+<member>" or "-<member>" per notification.
template <class Set>
class MemberLog : public Mica::Subscriber {
 public:
  explicit MemberLog(Mica::Ptr<const Set> set) : set_(std::move(set)) { set_->subscriberAdd(this); }
  ~MemberLog() { set_->subscriberRemove(this); }
  MemberLog(const MemberLog&) = delete;
  MemberLog& operator=(const MemberLog&) = delete;

  void onNotification(Mica::AttrId attr, const void* key, const void*) override {
    EXPECT_EQ(attr, Set::defaultRouteId);
    using Key = typename decltype(Set::defaultRoute)::Key;
    const Key& k = *static_cast<const Key*>(key);
    events.push_back(fmt::format("{}{}", set_->defaultRoute.contains(k) ? '+' : '-', k));
  }
  Strings take() { return std::exchange(events, {}); }

  Strings events;

 private:
  Mica::Ptr<const Set> set_;
};

// The members of an output set, printed, in order.
template <class Set>
Strings members(const Set& set) {
  Strings out;
  for (const auto& m : set.defaultRoute) out.push_back(fmt::format("{}", m));
  return out;
}

// Captures the trackers' messages: level 8 of "OrbSiEdgeHelper", the only level switched on.
class HelperTraces {
 public:
  // The helper's texts since the last take().
  Strings take() {
    Strings out = IeTest::textsOf(capture_, "OrbSiEdgeHelper");
    capture_.clear();
    return out;
  }

 private:
  IeTest::TraceCaptureAt capture_{"OrbSiEdgeHelper", 1u << 8};
};

}  // namespace SiEdgeHelperTest
