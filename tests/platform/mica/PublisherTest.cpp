#include "platform/mica/Publisher.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/mica/Entity.h"

namespace {

using Log = std::vector<std::string>;

struct Recorder : Mica::Subscriber {
  std::string name;
  Log* log;
  std::function<void()> onCall;
  Recorder(std::string n, Log* l) : name(std::move(n)), log(l) {}
  void onNotification(Mica::AttrId attr, const void* key, const void*) override {
    log->push_back(name + ":" + std::to_string(attr) + ":" + std::to_string(*static_cast<const int*>(key)));
    if (onCall) onCall();
  }
};

// The holes that removals during a delivery leave are closed when it ends, also when a
// subscriber throws; later removals then take effect at once.
TEST(PublisherTest, SubscriberMayRemoveItselfAndOthersDuringDeliveryAndThrow) {
  Mica::Publisher pub;
  Log log;
  Recorder a("a", &log), b("b", &log), c("c", &log);
  for (Recorder* r : {&a, &b, &c}) pub.subscriberAdd(r);
  a.onCall = [&] {  // b, between the two removed, must still be called
    pub.subscriberRemove(&a);
    pub.subscriberRemove(&c);
  };
  b.onCall = [&] { throw std::runtime_error("subscriber failed"); };
  int key = 1;
  EXPECT_THROW(pub.notify(1, &key, nullptr), std::runtime_error);
  EXPECT_EQ(log, (Log{"a:1:1", "b:1:1"}));
  EXPECT_EQ(pub.subscriberCount(), 1u);
  log.clear();
  key = 2;
  b.onCall = nullptr;
  pub.notify(1, &key, nullptr);
  EXPECT_EQ(log, Log{"b:1:2"});
  pub.subscriberRemove(&b);
  EXPECT_FALSE(pub.hasSubscribers());
}

// A subscriber added during a delivery gets the next notification, not the current one, with
// one subscriber (no list yet) and with a list, added by the first or the last subscriber.
TEST(PublisherTest, SubscriberAddedDuringDeliveryGetsOnlyLaterNotifications) {
  // {subscribers, index of the one that adds "late"}
  for (const auto& [subscribers, adder] : {std::pair{1, 0}, {2, 0}, {2, 1}, {3, 0}, {3, 2}}) {
    SCOPED_TRACE(testing::Message() << subscribers << " subscribers, added by " << adder);
    Mica::Publisher pub;
    Log log, first;
    std::vector<std::unique_ptr<Recorder>> subs;
    for (int i = 0; i < subscribers; ++i) {
      subs.push_back(std::make_unique<Recorder>("s" + std::to_string(i), &log));
      pub.subscriberAdd(subs.back().get());
      first.push_back("s" + std::to_string(i) + ":1:1");
    }
    Recorder late("late", &log);
    subs[adder]->onCall = [&] { if (!pub.hasSubscriber(&late)) pub.subscriberAdd(&late); };
    int key = 1;
    pub.notify(1, &key, nullptr);
    EXPECT_EQ(log, first);
    log.clear();
    pub.notify(2, &key, nullptr);
    EXPECT_EQ(log.size(), first.size() + 1);
    EXPECT_EQ(log.back(), "late:2:1");
  }

  // A nested delivery completes before the outer one goes on. Added during the outer delivery: the
  // nested notification is the next one and reaches it, the rest of the outer one does not. Added
  // during the nested delivery: neither reaches it.
  for (bool addInNested : {false, true}) {
    SCOPED_TRACE(addInNested ? "added in the nested delivery" : "added in the outer delivery");
    Mica::Publisher pub;
    Log log;
    Recorder a("a", &log), b("b", &log), c("c", &log), late("late", &log);
    for (Recorder* r : {&a, &b, &c}) pub.subscriberAdd(r);
    int outer = 1, inner = 2;
    a.onCall = [&] {
      if (!addInNested && !pub.hasSubscriber(&late)) pub.subscriberAdd(&late);
      if (log.size() == 1) pub.notify(9, &inner, nullptr);
    };
    c.onCall = [&] { if (addInNested && log.size() == 4) pub.subscriberAdd(&late); };
    pub.notify(1, &outer, nullptr);
    Log expected{"a:1:1", "a:9:2", "b:9:2", "c:9:2", "late:9:2", "b:1:1", "c:1:1"};
    if (addInNested) expected.erase(expected.begin() + 4);
    EXPECT_EQ(log, expected);
  }
}

// The publisher's word keeps the owner of an element beside its subscribers: no sequence of
// subscriptions, removals (also during a delivery) or owner changes may lose or invent either.
TEST(PublisherTest, TheOwnerSurvivesEveryChangeOfTheSubscribers) {
  struct Root final : Mica::Entity {} root, other;
  Log log;
  Recorder a("a", &log), b("b", &log);
  int key = 1;
  for (const bool ownerFirst : {true, false}) {
    SCOPED_TRACE(ownerFirst ? "owner, then subscribers" : "a subscriber, then the owner");
    Mica::Publisher pub;
    auto seen = [&] {
      log.clear();
      pub.notify(1, &key, nullptr);
      std::string text = std::to_string(pub.subscriberCount()) + " subscribers, owner ";
      text += pub.owner() == &root ? "root" : pub.owner() == &other ? "other" : "none";
      for (const auto& l : log) text += ", " + l;
      return text;
    };
    if (ownerFirst) {
      pub.ownerIs(&root);
      EXPECT_EQ(seen(), "0 subscribers, owner root");
      pub.subscriberAdd(&a);
      pub.subscriberRemove(&b);
    } else {
      pub.subscriberAdd(&a);
      pub.subscriberRemove(&b);  // not subscribed: nothing happens
      EXPECT_EQ(seen(), "1 subscribers, owner none, a:1:1");
      pub.ownerIs(&root);
    }
    EXPECT_EQ(seen(), "1 subscribers, owner root, a:1:1");
    pub.subscriberAdd(&b);
    pub.subscriberRemove(&a);
    EXPECT_EQ(seen(), "1 subscribers, owner root, b:1:1");
    b.onCall = [&] { pub.subscriberRemove(&b); };  // the last one leaves during a delivery
    EXPECT_EQ(seen(), "0 subscribers, owner root, b:1:1");
    b.onCall = nullptr;
    EXPECT_FALSE(pub.hasSubscriber(&b));
    pub.ownerIs(&other);
    pub.subscriberAdd(&b);
    pub.ownerIs(nullptr);
    EXPECT_EQ(seen(), "1 subscribers, owner none, b:1:1");
    pub.subscriberRemove(&b);
    EXPECT_EQ(seen(), "0 subscribers, owner none");
  }
}

}  // namespace
