// Helpers for the data-path module tests: the newest Blip record and the exit-info message of a
// queued command.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/module/ModuleConfig.h"
#include "platform/trace/Blip.h"
#include "platform/trace/Trace.h"
#include "proto/orb.pb.h"
#include "tests/support/TraceLevels.h"

namespace IeTest {

// The decoded text of the newest record of the process Blip ring ("" when it is empty).
inline std::string newestBlip() {
  const auto texts = Blip::defaultHandle()->decoded();
  return texts.empty() ? std::string() : texts.back();
}

// The exit-info message carried by `cmd`; fails the test when it carries another message.
inline const orb::pb::IeLaneToExitInfoArg& exitInfoOf(const Orb::ModuleCmdBase& cmd) {
  static const orb::pb::IeLaneToExitInfoArg empty;
  const auto* arg = dynamic_cast<const orb::pb::IeLaneToExitInfoArg*>(cmd.arg());
  EXPECT_NE(arg, nullptr) << cmd.cmdName().view() << " carries no IeLaneToExitInfoArg";
  return arg != nullptr ? *arg : empty;
}

}  // namespace IeTest
