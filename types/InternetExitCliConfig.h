// The internet-exit configuration as the operator entered it.
//
//   InternetExitCliConfig
//     exitGroupConfig[name]  ExitGroupConfig     exitOption: set of ExitKey
//     policyConfig[name]     PolicyConfig        exitGroup[seqNo]: PolicyExitGroupEntry
//                                                  exitGroupName: the group at that seqNo
//
// Written by a configuration agent, read only by IeStatusConfigSm. Every collection notifies
// each change (Mica::Entity). Policy entries iterate in ascending sequence number.
#pragma once

#include "platform/mica/Entity.h"
#include "platform/mica/String.h"
#include "types/ExitKey.h"

namespace OrbInternetExit {

class ExitGroupConfig : public Mica::Entity {
 public:
  enum : Mica::AttrId { exitOptionId = 1 };
  explicit ExitGroupConfig(const Mica::String& name) : name_(name) {}
  const Mica::String& name() const noexcept { return name_; }
  const Mica::String& key() const noexcept { return name_; }

  Mica::ValueSet<ExitKey, exitOptionId> exitOption;
  void exitOptionIs(const ExitKey& k) { exitOption.insert(*this, k); }
  void exitOptionDel(const ExitKey& k) { exitOption.erase(*this, k); }

 private:
  Mica::String name_;
};

class PolicyExitGroupEntry : public Mica::Entity {
 public:
  enum : Mica::AttrId { exitGroupNameId = 1 };
  explicit PolicyExitGroupEntry(double seqNo) : seqNo_(seqNo) {}
  double seqNo() const noexcept { return seqNo_; }
  double key() const noexcept { return seqNo_; }

  Mica::Scalar<Mica::String, exitGroupNameId> exitGroupName;
  void exitGroupNameIs(const Mica::String& name) { exitGroupName.set(*this, name); }

 private:
  double seqNo_;
};

class PolicyConfig : public Mica::Entity {
 public:
  enum : Mica::AttrId { exitGroupId = 1 };
  explicit PolicyConfig(const Mica::String& name) : name_(name) {}
  const Mica::String& name() const noexcept { return name_; }
  const Mica::String& key() const noexcept { return name_; }

  // Ordered by ascending sequence number.
  Mica::EntityMap<double, PolicyExitGroupEntry, exitGroupId> exitGroup;
  Mica::Ptr<PolicyExitGroupEntry> exitGroupIs(double seqNo) { return exitGroup.create(*this, seqNo); }
  // Creates or updates the entry at seqNo to name `groupName`.
  Mica::Ptr<PolicyExitGroupEntry> exitGroupIs(double seqNo, const Mica::String& groupName) {
    auto entry = exitGroup.create(*this, seqNo, [&](PolicyExitGroupEntry& e) { e.exitGroupNameIs(groupName); });
    entry->exitGroupNameIs(groupName);
    return entry;
  }
  void exitGroupDel(double seqNo) { exitGroup.erase(*this, seqNo); }

 private:
  Mica::String name_;
};

class InternetExitCliConfig : public Mica::Entity {
 public:
  enum : Mica::AttrId { exitGroupConfigId = 1, policyConfigId = 2 };

  Mica::EntityMap<Mica::String, ExitGroupConfig, exitGroupConfigId> exitGroupConfig;
  Mica::EntityMap<Mica::String, PolicyConfig, policyConfigId> policyConfig;

  Mica::Ptr<ExitGroupConfig> exitGroupConfigIs(const Mica::String& name) {
    return exitGroupConfig.create(*this, name);
  }
  void exitGroupConfigDel(const Mica::String& name) { exitGroupConfig.erase(*this, name); }
  Mica::Ptr<PolicyConfig> policyConfigIs(const Mica::String& name) {
    return policyConfig.create(*this, name);
  }
  void policyConfigDel(const Mica::String& name) { policyConfig.erase(*this, name); }
};

}  // namespace OrbInternetExit
