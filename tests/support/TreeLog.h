// Logs, in order, the changes of an entity and of every entity below it, as texts a test chooses.
//
//   IeTest::TreeLog log(dir, [&](const Mica::Entity& source, Mica::AttrId attr, const void* key,
//                                const void* old) -> std::string { ... });
//
// `describe` gets the changed entity (the root itself, or an element below it), the attribute id,
// the key and the old value exactly as the notification carries them; an empty text is not kept.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/mica/Entity.h"

namespace IeTest {

class TreeLog final : private Mica::Subscriber {
 public:
  using Describe = std::function<std::string(const Mica::Entity& source, Mica::AttrId attr, const void* key,
                                             const void* old)>;

  TreeLog(Mica::Ptr<const Mica::Entity> root, Describe describe)
      : root_(std::move(root)), describe_(std::move(describe)) {
    wantsDescendants_ = true;
    root_->subscriberAdd(this);
  }
  ~TreeLog() { root_->subscriberRemove(this); }
  TreeLog(const TreeLog&) = delete;
  TreeLog& operator=(const TreeLog&) = delete;

  std::vector<std::string> events;

 private:
  void onNotification(Mica::AttrId attr, const void* key, const void* old) override { keep(*root_, attr, key, old); }
  void onDescendantNotification(const Mica::Entity& source, Mica::AttrId attr, const void* key,
                                const void* old) override {
    keep(source, attr, key, old);
  }
  void keep(const Mica::Entity& source, Mica::AttrId attr, const void* key, const void* old) {
    std::string text = describe_(source, attr, key, old);
    if (!text.empty()) events.push_back(std::move(text));
  }

  Mica::Ptr<const Mica::Entity> root_;
  Describe describe_;
};

}  // namespace IeTest
