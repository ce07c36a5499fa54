#include "platform/mica/Publisher.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Recorder : Mica::Subscriber {
  std::string name;
  std::vector<std::string>* log;
  std::function<void()> onCall;
  Recorder(std::string n, std::vector<std::string>* l) : name(std::move(n)), log(l) {}
  void onNotification(Mica::AttrId attr, const void* key, const void*) override {
    log->push_back(name + ":" + std::to_string(attr) + ":" + std::to_string(*static_cast<const int*>(key)));
    if (onCall) onCall();
  }
};

TEST(PublisherTest, DeliversInSubscriptionOrderWithKey) {
  Mica::Publisher pub;
  std::vector<std::string> log;
  Recorder a("a", &log), b("b", &log);
  pub.subscriberAdd(&b);
  pub.subscriberAdd(&a);
  int key = 7;
  pub.notify(3, &key, nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"b:3:7", "a:3:7"}));
  EXPECT_EQ(pub.subscriberCount(), 2u);
}

TEST(PublisherTest, SubscriberMayRemoveItselfAndOthersDuringDelivery) {
  Mica::Publisher pub;
  std::vector<std::string> log;
  Recorder a("a", &log), b("b", &log), c("c", &log);
  pub.subscriberAdd(&a);
  pub.subscriberAdd(&b);
  pub.subscriberAdd(&c);
  a.onCall = [&] {
    pub.subscriberRemove(&a);
    pub.subscriberRemove(&b);
  };
  int key = 1;
  pub.notify(1, &key, nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"a:1:1", "c:1:1"}));
  log.clear();
  key = 2;
  pub.notify(1, &key, nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"c:1:2"}));
  EXPECT_EQ(pub.subscriberCount(), 1u);
}

TEST(PublisherTest, SubscriberAddedDuringDeliveryGetsOnlyLaterNotifications) {
  Mica::Publisher pub;
  std::vector<std::string> log;
  Recorder a("a", &log), late("late", &log);
  pub.subscriberAdd(&a);
  a.onCall = [&] {
    if (pub.subscriberCount() == 1) pub.subscriberAdd(&late);
  };
  int key = 1;
  pub.notify(1, &key, nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"a:1:1"}));
  pub.notify(2, &key, nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"a:1:1", "a:2:1", "late:2:1"}));
}

TEST(PublisherTest, NestedDeliveryCompletesBeforeOuterContinues) {
  Mica::Publisher pub;
  std::vector<std::string> log;
  Recorder a("a", &log), b("b", &log);
  pub.subscriberAdd(&a);
  pub.subscriberAdd(&b);
  int inner = 2;
  bool nested = false;
  a.onCall = [&] {
    if (std::exchange(nested, true)) return;
    pub.notify(9, &inner, nullptr);
  };
  int outer = 1;
  pub.notify(1, &outer, nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"a:1:1", "a:9:2", "b:9:2", "b:1:1"}));
}

TEST(PublisherTest, RemovingTheLastSubscriberFreesTheListAndResubscribingWorks) {
  Mica::Publisher pub;
  std::vector<std::string> log;
  Recorder a("a", &log);
  pub.subscriberAdd(&a);
  pub.subscriberRemove(&a);
  pub.subscriberRemove(&a);  // not subscribed: nothing happens
  EXPECT_FALSE(pub.hasSubscribers());
  int key = 1;
  pub.notify(1, &key, nullptr);
  EXPECT_TRUE(log.empty());
  pub.subscriberAdd(&a);
  pub.notify(1, &key, nullptr);
  EXPECT_EQ(log.size(), 1u);
}

TEST(PublisherTest, ASubscriberThatThrowsLeavesThePublisherUsable) {
  Mica::Publisher pub;
  std::vector<std::string> log;
  Recorder a("a", &log), b("b", &log);
  pub.subscriberAdd(&a);
  pub.subscriberAdd(&b);
  bool thrown = false;
  a.onCall = [&] {
    pub.subscriberRemove(&b);  // leaves a hole while delivering
    if (!std::exchange(thrown, true)) throw std::runtime_error("subscriber failed");
  };
  int key = 1;
  EXPECT_THROW(pub.notify(1, &key, nullptr), std::runtime_error);
  // The hole was closed and later removals take effect at once again.
  EXPECT_EQ(pub.subscriberCount(), 1u);
  pub.subscriberRemove(&a);
  EXPECT_FALSE(pub.hasSubscribers());
}

}  // namespace
