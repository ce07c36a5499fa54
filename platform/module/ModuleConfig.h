// Module commands and the configuration/status pair through which a module talks to the data
// path.
//
//   module --moduleCmdFactory--> ModuleCmdBase --cmdBatchEnq--> ModuleConfig (pending batch)
//   data path: batchTake() from ModuleConfig, applies, reports counts on ModuleStatus
//
// A command names its target module and itself and carries one protobuf message. Commands are
// only queued by the sender; when a batch reaches the data path is the framework's affair (here:
// whoever drains the configuration half, e.g. DataPathModel).
//
// Thread-safety: none; the agent's scheduler thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "platform/mica/Entity.h"
#include "platform/mica/String.h"

namespace google::protobuf {
class Message;
}

namespace Orb {

// One command to a module: target module name, command name and argument message.
class ModuleCmdBase : public Mica::Node {
 public:
  // `arg` may be null. With `ownsArg` the command deletes `arg` when it goes; without, the
  // caller keeps `arg` alive for as long as the command lives.
  ModuleCmdBase(Mica::String moduleName, Mica::String cmdName, google::protobuf::Message* arg,
                bool ownsArg) noexcept;
  ~ModuleCmdBase() override;

  const Mica::String& moduleName() const noexcept { return moduleName_; }
  const Mica::String& cmdName() const noexcept { return cmdName_; }
  const google::protobuf::Message* arg() const noexcept { return arg_; }
  bool ownsArg() const noexcept { return ownsArg_; }

 private:
  const Mica::String moduleName_;
  const Mica::String cmdName_;
  google::protobuf::Message* const arg_;
  const bool ownsArg_;
};

// Builds a command (see ModuleCmdBase). The modules of this library always pass ownsArg true:
// the message passes to the command.
Mica::Ptr<ModuleCmdBase> moduleCmdFactory(Mica::String moduleName, Mica::String cmdName,
                                          google::protobuf::Message* arg, bool ownsArg);

// The configuration half: the batch of commands queued for the data path, oldest first.
class ModuleConfig : public Mica::Entity {
 public:
  using CmdQueue = std::deque<Mica::Ptr<ModuleCmdBase>>;
  enum : Mica::AttrId { cmdBatchId = 1 };

  // Appends `cmd` (not null) to the pending batch, then notifies (cmdBatchId, null, null).
  void cmdBatchEnq(const Mica::Ptr<ModuleCmdBase>& cmd);

  const CmdQueue& pending() const noexcept { return pending_; }
  size_t pendingCount() const noexcept { return pending_.size(); }
  // Commands queued since construction, taken or not.
  uint64_t enqueuedCount() const noexcept { return enqueued_; }

  // Hands the pending commands over into `batch` (emptied first), oldest first, and leaves the
  // pending batch empty. Notifies nobody.
  void batchTake(CmdQueue& batch);

 private:
  // A deque grows by fixed blocks and never moves what it holds: a sender that queues a million
  // commands before the data path drains them (every policy interface at restart) would
  // otherwise copy the batch at each doubling of a vector, inside its own task run (35 ms at a
  // million pairs, mostly page faults of the new buffer).
  CmdQueue pending_;
  uint64_t enqueued_ = 0;
};

// The status half: what the data path reports back, the running totals of the commands it
// applied and rejected. Each change notifies (attribute id, null, &old count).
class ModuleStatus : public Mica::Entity {
 public:
  enum : Mica::AttrId { cmdsAppliedId = 1, cmdsRejectedId = 2 };

  Mica::Scalar<uint64_t, cmdsAppliedId> cmdsApplied;
  Mica::Scalar<uint64_t, cmdsRejectedId> cmdsRejected;

  void cmdsAppliedIs(uint64_t n) { cmdsApplied.set(*this, n); }
  void cmdsRejectedIs(uint64_t n) { cmdsRejected.set(*this, n); }
};

// The two halves of a module's link to the data path. Either half may be absent.
class ModuleConfigStatusPair : public Mica::Node {
 public:
  // Both halves, new and empty.
  ModuleConfigStatusPair();
  ModuleConfigStatusPair(Mica::Ptr<ModuleConfig> config, Mica::Ptr<ModuleStatus> status) noexcept;

  const Mica::Ptr<ModuleConfig>& config() const noexcept { return config_; }
  const Mica::Ptr<ModuleStatus>& status() const noexcept { return status_; }

 private:
  const Mica::Ptr<ModuleConfig> config_;
  const Mica::Ptr<ModuleStatus> status_;
};

}  // namespace Orb
