// Helpers for the data-path module tests: trace levels switched on for one test, the newest Blip
// record, and the exit-info message of a queued command.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/module/ModuleConfig.h"
#include "platform/trace/Blip.h"
#include "platform/trace/Trace.h"
#include "proto/orb.pb.h"

namespace IeTest {

// Switches every level of the named handler on while it lives, then restores its mask.
class TraceLevelsOn {
 public:
  explicit TraceLevelsOn(std::string_view handler)
      : handler_(Mica::Platform::getDebugHandler(handler)), previous_(handler_->levelMask()) {
    handler_->levelMaskIs(~uint32_t{0});
  }
  ~TraceLevelsOn() { handler_->levelMaskIs(previous_); }
  TraceLevelsOn(const TraceLevelsOn&) = delete;
  TraceLevelsOn& operator=(const TraceLevelsOn&) = delete;

 private:
  Mica::Ptr<Mica::DebugHandler> handler_;
  uint32_t previous_;
};

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
