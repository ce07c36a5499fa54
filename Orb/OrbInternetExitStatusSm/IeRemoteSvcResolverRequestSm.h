// IeRemoteSvcResolverRequestSm: asks the service resolver for the far end of every remote exit
// option.
//
// Input:   exitOptionDir.exitOptionStatus   exit option of a pair -> its status entry
// Output:  svcReqDir.resolverRequest        set of VniLaneSvcGroupName
//
//   exitOptionDir.exitOptionStatus[] ──> exitOptUpd ──> svcReqDir.resolverRequest
//        (ExitOptionDirSm18, source 0)     remoteExit only; key (option name, pair)
//
// Only the creation and removal of an entry reach the pipeline; a change inside an entry (a new
// result, another group) does not, so an option keeps its request whether or not the resolver
// has answered it.
//
// Invariant once ready: resolverRequest holds (S, v) exactly when exitOptionStatus holds the
// remoteExit option named S on pair v. Local and fib-default options never make a request; the
// same name on two pairs makes two. At start over a non-empty request set (an agent restart),
// requests that current options imply are written again without being deleted first, and the
// others are deleted by the reconciliation.
//
// Both pointer arguments are mandatory. Tasks (asynchronous control):
//   "OrbInternetExit::IeRemoteSvcResolverRequestSm-ExitOptionDirSm18InputScanTask0"
//   "IeRemoteSvcResolverRequestSm-svcReqDirResolverRequestOutputTask"
// Traces on "OrbInternetExitStatusSm" (or the control's handler):
//   9  "Reconciling svcReqDirResolverRequestOutput: {:}"
//   7  "exitOptUpd = from( exitOptionDir.exitOptionStatus[] ): exitOptKey={} exitOpt={}"
//   6  "filter( ( exitOptKey.exitKey.type == ExitType::remoteExit() ) ) failed, terminating pipeline"
//   8  "Updating the service resolver request for {}, isAdd {}"   (also a Blip record)
//   7  "into( svcReqDir.resolverRequest[ vniLaneSvcGrpName ] ): inserting k1={}"
//   7  "into( svcReqDir.resolverRequest[ vniLaneSvcGrpName ] ): deleting k1={}"
#pragma once

#include "platform/agents/SvcResolverDirs.h"
#include "platform/agents/VniLaneSvcGroupName.h"
#include "runtime/Output.h"
#include "runtime/StateMachine.h"
#include "types/IeExitOptionDir.h"

namespace OrbInternetExit {

using Flo::SmControl;

class IeRemoteSvcResolverRequestSm final : public Flo::StateMachine {
 public:
  IeRemoteSvcResolverRequestSm(const Mica::Ptr<const IeExitOptionDir>& exitOptionDir,
                               const Mica::Ptr<SvcResolverRequestDir>& svcReqDir, const SmControl& control);

  // Constructs the state machine, runs its start-up and turns its notifications on.
  static Mica::Ptr<IeRemoteSvcResolverRequestSm> IeRemoteSvcResolverRequestSmIs(
      const Mica::Ptr<const IeExitOptionDir>& exitOptionDir, const Mica::Ptr<SvcResolverRequestDir>& svcReqDir,
      const SmControl& control);

  const Mica::Ptr<const IeExitOptionDir>& exitOptionDir() const noexcept { return exitOptionDir_; }
  const Mica::Ptr<SvcResolverRequestDir>& svcReqDir() const noexcept { return svcReqDir_; }

  // Pipeline exitOptUpd: the entry of exitOptKey appeared (present) or went (absent).
  void eventToExitOptUpd(const ExitVniLaneKey& exitOptKey,
                         const Quill::Optional<Mica::Ptr<const ExitOptionStatus>>& exitOptOpt);

 private:
  struct ResolverRequestSpec
      : Flo::CollOutputSpec<SvcResolverRequestDir, &SvcResolverRequestDir::resolverRequest,
                            &SvcResolverRequestDir::resolverRequestDel> {};

  void intoResolverRequest(const VniLaneSvcGroupName& vniLaneSvcGrpName, bool isAdd);

  Mica::Ptr<const IeExitOptionDir> exitOptionDir_;
  Mica::Ptr<SvcResolverRequestDir> svcReqDir_;
  Flo::TopOutput<ResolverRequestSpec>* resolverRequestOutput_;
};

// Creates the state machine (IeRemoteSvcResolverRequestSmIs) and returns it; an asynchronous one
// goes on with its scans and reconciliation on the control's scheduler.
Mica::Ptr<IeRemoteSvcResolverRequestSm> ieRemoteSvcResolverRequestSmFactory(
    const Mica::Ptr<const IeExitOptionDir>& exitOptionDir, const Mica::Ptr<SvcResolverRequestDir>& svcReqDir,
    const SmControl& control);

}  // namespace OrbInternetExit
