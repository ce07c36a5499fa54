// The usable results of every exit group of every (VNI, lane) pair.
//
//   IeExitGroupDir
//     exitGroupStatus[GroupVniLaneKey]  ExitGroupStatus
//                                         result[ExitVniLaneKey]: ExitIntfResult
//
// Written only by IeExitGroupStatusSm; read by the policy status state machine and by
// evaluateWinningExitGroup. A group with an entry is up; a group without one is down.
// Invariant kept by the writer: an entry exists exactly while its result map is non-empty, and
// it holds no result of type noResult.
#pragma once

#include "platform/mica/Entity.h"
#include "types/ExitIntfResult.h"
#include "types/ExitKey.h"
#include "types/GroupVniLaneKey.h"

namespace OrbInternetExit {

class ExitGroupStatus : public Mica::Entity {
 public:
  enum : Mica::AttrId { resultId = 1 };
  explicit ExitGroupStatus(const GroupVniLaneKey& groupKey) : groupKey_(groupKey) {}
  const GroupVniLaneKey& groupKey() const noexcept { return groupKey_; }
  const GroupVniLaneKey& key() const noexcept { return groupKey_; }

  // A group usually has one or two usable options per pair.
  static constexpr size_t kResultInline = 2;
  Mica::ValueMap<ExitVniLaneKey, ExitIntfResult, resultId, kResultInline> result;
  // Inserts or overwrites in place (no deletion first).
  void resultIs(const ExitVniLaneKey& k, const ExitIntfResult& r) { result.set(*this, k, r); }
  void resultDel(const ExitVniLaneKey& k) { result.erase(*this, k); }

 private:
  GroupVniLaneKey groupKey_;
};

class IeExitGroupDir : public Mica::Entity {
 public:
  enum : Mica::AttrId { exitGroupStatusId = 1 };

  Mica::EntityMap<GroupVniLaneKey, ExitGroupStatus, exitGroupStatusId> exitGroupStatus;
  // The entry under `k`, created empty when absent.
  Mica::Ptr<ExitGroupStatus> exitGroupStatusIs(const GroupVniLaneKey& k) { return exitGroupStatus.create(*this, k); }
  void exitGroupStatusDel(const GroupVniLaneKey& k) { exitGroupStatus.erase(*this, k); }

  // The invariant above, and the B-trees' own.
  bool checkInvariants() const {
    exitGroupStatus.checkInvariants();
    for (const auto& [k, e] : exitGroupStatus) {
      if (e->result.empty() || !(e->key() == k)) return false;
      for (const auto& [o, r] : e->result) {
        if (r.resultType == ExitResultType::noResult()) return false;
      }
    }
    return true;
  }
};

}  // namespace OrbInternetExit
