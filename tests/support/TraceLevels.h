// Trace levels switched on for a test: sets a debug handler's level mask for the life of the
// object and restores the previous mask, so tests never leak trace settings into each other.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/trace/Trace.h"

namespace IeTest {

class TraceLevels {
 public:
  TraceLevels(std::string_view handler, uint32_t mask)
      : handler_(Mica::Platform::getDebugHandler(handler)), saved_(handler_->levelMask()) {
    handler_->levelMaskIs(mask);
  }
  ~TraceLevels() { handler_->levelMaskIs(saved_); }
  TraceLevels(const TraceLevels&) = delete;
  TraceLevels& operator=(const TraceLevels&) = delete;

 private:
  Mica::Ptr<Mica::DebugHandler> handler_;
  uint32_t saved_;
};

}  // namespace IeTest
