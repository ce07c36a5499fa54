// The status of every exit option of every (VNI, lane) pair.
//
//   IeExitOptionDir
//     exitOptionStatus[ExitVniLaneKey]  ExitOptionStatus
//                                         group: set of GroupVniLaneKey (the groups holding it)
//                                         resultExitIntf: ExitIntfResult
//
// Written only by IeExitOptionStatusSm; read by the resolver-request and exit-group status
// state machines. Invariant kept by the writer: an entry exists exactly while its group set is
// non-empty. Every collection and attribute notifies each change.
#pragma once

#include "platform/mica/Entity.h"
#include "types/ExitIntfResult.h"
#include "types/ExitKey.h"
#include "types/GroupVniLaneKey.h"

namespace OrbInternetExit {

class ExitOptionStatus : public Mica::Entity {
 public:
  enum : Mica::AttrId { groupId = 1, resultExitIntfId = 2 };
  explicit ExitOptionStatus(const ExitVniLaneKey& key) : key_(key) {}
  const ExitVniLaneKey& exitOptKey() const noexcept { return key_; }
  const ExitVniLaneKey& key() const noexcept { return key_; }

  // An option usually sits in one group of its pair.
  static constexpr size_t kGroupInline = 1;
  Mica::ValueSet<GroupVniLaneKey, groupId, kGroupInline> group;
  void groupIs(const GroupVniLaneKey& k) { group.insert(*this, k); }
  void groupDel(const GroupVniLaneKey& k) { group.erase(*this, k); }

  Mica::Scalar<ExitIntfResult, resultExitIntfId> resultExitIntf;
  void resultExitIntfIs(const ExitIntfResult& r) { resultExitIntf.set(*this, r); }

 private:
  ExitVniLaneKey key_;
};

class IeExitOptionDir : public Mica::Entity {
 public:
  enum : Mica::AttrId { exitOptionStatusId = 1 };

  Mica::EntityMap<ExitVniLaneKey, ExitOptionStatus, exitOptionStatusId> exitOptionStatus;
  // The entry under `k`, created with an empty group set and the default result when absent.
  Mica::Ptr<ExitOptionStatus> exitOptionStatusIs(const ExitVniLaneKey& k) { return exitOptionStatus.create(*this, k); }
  void exitOptionStatusDel(const ExitVniLaneKey& k) { exitOptionStatus.erase(*this, k); }

  // The invariant above, and the B-trees' own.
  bool checkInvariants() const {
    exitOptionStatus.checkInvariants();
    for (const auto& [k, e] : exitOptionStatus) {
      if (e->group.empty() || !(e->key() == k)) return false;
    }
    return true;
  }
};

}  // namespace OrbInternetExit
