#include "Orb/OrbInternetExitUtil/EvaluateWinningExitGroup.h"

#include <fmt/format.h>

#include <cstdint>

#include "Orb/OrbInternetExitUtil/UtilTrace.h"
#include "platform/trace/Duolog.h"

namespace OrbInternetExit {
namespace {
// A sequence number as the traces print it: fixed-point, "10.000000". The Blip record keeps
// the number and formats it only when decoded.
struct SeqNoText {
  double seqNo;
};
}  // namespace
}  // namespace OrbInternetExit

template <>
struct fmt::formatter<OrbInternetExit::SeqNoText> {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class Ctx>
  auto format(const OrbInternetExit::SeqNoText& s, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "{:f}", s.seqNo);
  }
};

namespace OrbInternetExit {

GroupVniLaneKey evaluateWinningExitGroup(const Mica::Ptr<const PolicyStatusConfig>& policyStatusConfig,
                                         const Mica::Ptr<const IeExitGroupDir>& exitGroupDir) {
  // Ascending sequence numbers: the first group with a result is the most preferred usable one.
  for (const auto& [seqNo, entry] : policyStatusConfig->exitGroup) {
    const GroupVniLaneKey& groupKey = entry->exitGroup.get();
    Mica::Duolog::trace(Blip::defaultHandle(), internal::utilTrace(), internal::kUtilTraceLevel,
                        "::evaluateWinningExitGroup: policy=%s exitGroup=(%s,%s)", policyStatusConfig->policyKey(),
                        SeqNoText{seqNo}, groupKey);
    const ExitGroupStatus* status = exitGroupDir->exitGroupStatus.lookup(groupKey);
    if (!status) continue;
    const uint64_t results = status->result.size();
    Mica::Duolog::trace(Blip::defaultHandle(), internal::utilTrace(), internal::kUtilTraceLevel,
                        "::evaluateWinningExitGroup: result=%s", results);
    if (results != 0) return groupKey;
  }
  Mica::Duolog::trace(Blip::defaultHandle(), internal::utilTrace(), internal::kUtilTraceLevel,
                      "::evaluateWinningExitGroup: Default return");
  return GroupVniLaneKey();
}

}  // namespace OrbInternetExit
