// The debug trace handler and level that every utility function writes through.
#pragma once

#include "platform/trace/Trace.h"

namespace OrbInternetExit::internal {

inline constexpr int kUtilTraceLevel = 5;

inline const Mica::DebugHandler& utilTrace() {
  static const Mica::Ptr<Mica::DebugHandler> handler = Mica::Platform::getDebugHandler("OrbInternetExitUtil");
  return *handler;
}

}  // namespace OrbInternetExit::internal
