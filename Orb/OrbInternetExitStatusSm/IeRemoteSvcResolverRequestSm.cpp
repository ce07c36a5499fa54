#include "Orb/OrbInternetExitStatusSm/IeRemoteSvcResolverRequestSm.h"

#include "runtime/InputSm.h"
#include "runtime/Operators.h"
#include "runtime/Path.h"
#include "runtime/internal/LevelSm.h"

namespace OrbInternetExit {

namespace {
// Source 0: exitOptionDir.exitOptionStatus[], served by ExitOptionDirSm18. One level only: the
// entries' own attributes are not followed.
using ExitOptionStatusPath =
    Flo::Path<IeRemoteSvcResolverRequestSm, &IeRemoteSvcResolverRequestSm::eventToExitOptUpd,
              Flo::Level<&IeExitOptionDir::exitOptionStatus, "ExitOptionDirSm18", "exitOptionStatus">>;
}  // namespace

IeRemoteSvcResolverRequestSm::IeRemoteSvcResolverRequestSm(const Mica::Ptr<const IeExitOptionDir>& exitOptionDir,
                                                           const Mica::Ptr<SvcResolverRequestDir>& svcReqDir,
                                                           const SmControl& control)
    : StateMachine("OrbInternetExit", "IeRemoteSvcResolverRequestSm", control),
      exitOptionDir_(exitOptionDir),
      svcReqDir_(svcReqDir) {
  argIs("exitOptionDir()", exitOptionDir_.get());
  argIs("svcReqDir()", svcReqDir_.get());
  const size_t exitOptUpd = pipelineIs("exitOptUpd");

  auto& exitOptionDirSm18 = inputIs(
      std::make_unique<Flo::InputArgSm<IeExitOptionDir>>(*this, "ExitOptionDirSm18", exitOptionDir_));
  exitOptionDirSm18.sourceIs<Flo::internal::TopLevel<ExitOptionStatusPath>>(0, exitOptUpd);

  resolverRequestOutput_ = &outputIs(std::make_unique<Flo::TopOutput<ResolverRequestSpec>>(
      *this, "svcReqDirResolverRequestOutput", std::vector<size_t>{exitOptUpd}, svcReqDir_));
}

// exitOptUpd = from( exitOptionDir.exitOptionStatus[] )
//   -> filter( remoteExit ) -> (option name, pair), isAdd = entry present
//   -> into( svcReqDir.resolverRequest[ vniLaneSvcGrpName ] )
void IeRemoteSvcResolverRequestSm::eventToExitOptUpd(
    const ExitVniLaneKey& exitOptKey, const Quill::Optional<Mica::Ptr<const ExitOptionStatus>>& exitOptOpt) {
  if (!initialScanDone()) return;
  Flo::from(*this, "exitOptUpd = from( exitOptionDir.exitOptionStatus[] ): exitOptKey={} exitOpt={}", exitOptKey,
            Flo::optionalText(exitOptOpt));
  if (!Flo::filter(*this, exitOptKey.exitKey.type == ExitType::remoteExit(),
                   "filter( ( exitOptKey.exitKey.type == ExitType::remoteExit() ) )")) {
    return;
  }
  // The option's name is the service group the resolver looks up on the option's pair.
  const VniLaneSvcGroupName vniLaneSvcGrpName(exitOptKey.exitKey.name, exitOptKey.vniLaneId);
  const bool isAdd = exitOptOpt.has_value();
  Flo::note(*this, "Updating the service resolver request for {}, isAdd {}", vniLaneSvcGrpName, isAdd);
  intoResolverRequest(vniLaneSvcGrpName, isAdd);
}

void IeRemoteSvcResolverRequestSm::intoResolverRequest(const VniLaneSvcGroupName& vniLaneSvcGrpName, bool isAdd) {
  static constexpr Flo::Into into{"into( svcReqDir.resolverRequest[ vniLaneSvcGrpName ] )"};
  // A deletion counts as seen too: the key is gone, so the deletion pass never meets it.
  resolverRequestOutput_->seen(vniLaneSvcGrpName);
  if (isAdd) {
    into.inserting(*this, vniLaneSvcGrpName);
    svcReqDir_->resolverRequestIs(vniLaneSvcGrpName);
  } else {
    into.deleting(*this, vniLaneSvcGrpName);
    svcReqDir_->resolverRequestDel(vniLaneSvcGrpName);
  }
}

Mica::Ptr<IeRemoteSvcResolverRequestSm> IeRemoteSvcResolverRequestSm::IeRemoteSvcResolverRequestSmIs(
    const Mica::Ptr<const IeExitOptionDir>& exitOptionDir, const Mica::Ptr<SvcResolverRequestDir>& svcReqDir,
    const SmControl& control) {
  Mica::Ptr<IeRemoteSvcResolverRequestSm> sm(new IeRemoteSvcResolverRequestSm(exitOptionDir, svcReqDir, control));
  sm->handleInitialized();
  sm->hasNotificationActiveIs(true);
  return sm;
}

Mica::Ptr<IeRemoteSvcResolverRequestSm> ieRemoteSvcResolverRequestSmFactory(
    const Mica::Ptr<const IeExitOptionDir>& exitOptionDir, const Mica::Ptr<SvcResolverRequestDir>& svcReqDir,
    const SmControl& control) {
  return IeRemoteSvcResolverRequestSm::IeRemoteSvcResolverRequestSmIs(exitOptionDir, svcReqDir, control);
}

}  // namespace OrbInternetExit
