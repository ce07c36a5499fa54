// The status of every policy bound to a (VNI, lane) pair: its winning exit group and its exit
// interfaces.
//
//   IePolicyDir
//     policyStatus[PolicyVniLaneKey]  PolicyStatus
//                                       winningExitGroup: GroupVniLaneKey
//                                       exitIntf: set of ExitIntfResult
//
// Written only by IePolicyStatusSm; read by the data-path programming state machine. Invariant
// kept by the writer once an evaluation has ended: an entry exists exactly while its exitIntf
// set is non-empty, and then winningExitGroup names the group whose results they are.
#pragma once

#include "platform/mica/Entity.h"
#include "types/ExitIntfResult.h"
#include "types/GroupVniLaneKey.h"
#include "types/PolicyVniLaneKey.h"

namespace OrbInternetExit {

class PolicyStatus : public Mica::Entity {
 public:
  enum : Mica::AttrId { winningExitGroupId = 1, exitIntfId = 2 };
  explicit PolicyStatus(const PolicyVniLaneKey& policyKey) : policyKey_(policyKey) {}
  const PolicyVniLaneKey& policyKey() const noexcept { return policyKey_; }
  const PolicyVniLaneKey& key() const noexcept { return policyKey_; }

  Mica::Scalar<GroupVniLaneKey, winningExitGroupId> winningExitGroup;
  void winningExitGroupIs(const GroupVniLaneKey& k) { winningExitGroup.set(*this, k); }

  // A winning group usually yields one or two interfaces.
  static constexpr size_t kExitIntfInline = 2;
  Mica::ValueSet<ExitIntfResult, exitIntfId, kExitIntfInline> exitIntf;
  void exitIntfIs(const ExitIntfResult& r) { exitIntf.insert(*this, r); }
  void exitIntfDel(const ExitIntfResult& r) { exitIntf.erase(*this, r); }

 private:
  PolicyVniLaneKey policyKey_;
};

class IePolicyDir : public Mica::Entity {
 public:
  enum : Mica::AttrId { policyStatusId = 1 };

  Mica::EntityMap<PolicyVniLaneKey, PolicyStatus, policyStatusId> policyStatus;
  Mica::Ptr<PolicyStatus> policyStatusIs(const PolicyVniLaneKey& k) { return policyStatus.create(*this, k); }
  void policyStatusDel(const PolicyVniLaneKey& k) { policyStatus.erase(*this, k); }

  // The invariant above, and the B-trees' own.
  bool checkInvariants() const {
    policyStatus.checkInvariants();
    for (const auto& [k, e] : policyStatus) {
      if (e->exitIntf.empty() || !(e->key() == k)) return false;
    }
    return true;
  }
};

}  // namespace OrbInternetExit
