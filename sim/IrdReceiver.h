// The IRD's protocol logic without any I/O: bytes from the PC go in one at a time, the reply
// command (if the byte completes a step) comes out. Line-level faults are not applied here;
// those that change what the IRD decides (header/packet rejection, failed terminate) are.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "engine/Link.h"
#include "sim/FaultPlan.h"
#include "sim/ReportStore.h"

namespace irdload::sim {

class IrdReceiver {
 public:
  // Both must outlive the receiver. `skipsPaddingPacket`: packets are counted by payload bytes,
  // so a last packet that would carry none is never asked for.
  IrdReceiver(const FaultPlan& plan, ReportStore& store, bool skipsPaddingPacket = false);

  // Takes one byte from the PC; returns the byte the IRD answers with, if any.
  std::optional<std::uint8_t> Feed(std::uint8_t byte);

  // The PC has been silent too long: the reply to send again, if the IRD waits for the PC at all.
  // A header or packet only partly received is dropped: the request for it goes again.
  std::optional<std::uint8_t> Repeat();

 private:
  enum class Phase {
    WaitConnect,
    WaitReAck,
    ReceiveHeader,
    WaitHeaderAnswer,
    ReceivePacket,
    WaitPacketAnswer,
    WaitTerminateAnswer,
  };

  std::optional<std::uint8_t> Unexpected();
  std::optional<std::uint8_t> Decide(std::uint8_t byte);
  static bool RepeatedAnswer(std::uint8_t byte);
  std::uint8_t OnHeaderComplete();
  std::uint8_t OnPacketComplete();
  std::uint8_t OnPacketAnswered();
  void OnTerminateAnswered();

  const FaultPlan& plan_;
  ReportStore& store_;
  const bool skipsPaddingPacket_;

  Phase phase_ = Phase::WaitConnect;
  std::array<std::uint8_t, kHeaderSize> header_{};
  std::size_t headerFill_ = 0;
  DataPacket packet_{};
  std::size_t packetFill_ = 0;
  bool headerAccepted_ = false;
  std::uint8_t lastReply_ = 0;  // 0: nothing said since the last connect

  // Session-wide reception counts that the faults are scheduled on.
  std::uint32_t headersReceived_ = 0;
  std::uint32_t packetsReceived_ = 0;

  // The current file.
  std::uint32_t payloadSize_ = 0;
  std::uint32_t packetsExpected_ = 0;
  std::uint32_t nextPacket_ = 0;
  bool terminateWasSuccess_ = false;
};

}  // namespace irdload::sim
