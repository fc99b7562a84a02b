#include "sim/IrdReceiver.h"

namespace irdload::sim {
namespace {

bool ChecksumMatches(const DataPacket& packet) {
  const std::uint16_t carried =
      static_cast<std::uint16_t>(packet[kPacketSize - 2] << 8 | packet[kPacketSize - 1]);
  return carried == PacketChecksum(packet);
}

}  // namespace

IrdReceiver::IrdReceiver(const FaultPlan& plan, ReportStore& store, bool skipsPaddingPacket)
    : plan_(plan), store_(store), skipsPaddingPacket_(skipsPaddingPacket) {}

std::optional<std::uint8_t> IrdReceiver::Feed(std::uint8_t byte) {
  const std::optional<std::uint8_t> reply = Decide(byte);
  if (reply) lastReply_ = *reply;
  return reply;
}

std::optional<std::uint8_t> IrdReceiver::Decide(std::uint8_t byte) {
  switch (phase_) {
    case Phase::WaitConnect:
      if (byte != CMD_CONNECT_REQ) return Unexpected();
      phase_ = Phase::WaitReAck;
      return CMD_CONNECT_ACK;

    case Phase::WaitReAck:
      // The PC repeats its request until it hears us; each one gets its acknowledge.
      if (byte == CMD_CONNECT_REQ) return CMD_CONNECT_ACK;
      if (byte != CMD_CONNECT_RE_ACK) return Unexpected();
      store_.Update([](Report& report) { report.files.emplace_back(); });
      payloadSize_ = 0;
      packetsExpected_ = 0;
      nextPacket_ = 0;
      headerFill_ = 0;
      phase_ = Phase::ReceiveHeader;
      return CMD_HEADER_REQ;

    case Phase::ReceiveHeader:
      if (headerFill_ == 0 && RepeatedAnswer(byte)) return Unexpected();
      header_[headerFill_++] = byte;
      if (headerFill_ < kHeaderSize) return std::nullopt;
      headerFill_ = 0;
      phase_ = Phase::WaitHeaderAnswer;
      return OnHeaderComplete();

    case Phase::WaitHeaderAnswer:
      if (byte != CMD_HEADER_ANSWER) return Unexpected();
      if (!headerAccepted_) {
        phase_ = Phase::ReceiveHeader;
        return CMD_HEADER_REQ;
      }
      packetFill_ = 0;
      return OnPacketAnswered();  // asks for packet 0, or ends at once when there is none

    case Phase::ReceivePacket:
      if (packetFill_ == 0 && RepeatedAnswer(byte)) return Unexpected();
      packet_[packetFill_++] = byte;
      if (packetFill_ < kPacketSize) return std::nullopt;
      packetFill_ = 0;
      phase_ = Phase::WaitPacketAnswer;
      return OnPacketComplete();

    case Phase::WaitPacketAnswer:
      if (byte != CMD_DATA_ANSWER) return Unexpected();
      return OnPacketAnswered();

    case Phase::WaitTerminateAnswer:
      // The PC answers the first file of a pair's success terminate by starting the second
      // file at once, with a new connect request instead of 0xED.
      if (byte == CMD_CONNECT_REQ && terminateWasSuccess_) {
        store_.Update([](Report& report) { report.files.back().chainedToNext = true; });
        phase_ = Phase::WaitReAck;
        return CMD_CONNECT_ACK;
      }
      if (byte != CMD_TERMINATE_ANSWER) return Unexpected();
      OnTerminateAnswered();
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::uint8_t> IrdReceiver::Repeat() {
  switch (phase_) {
    case Phase::WaitConnect:
      return std::nullopt;
    case Phase::ReceiveHeader:
      headerFill_ = 0;
      break;
    case Phase::ReceivePacket:
      packetFill_ = 0;
      break;
    default:
      break;
  }
  if (lastReply_ == 0) return std::nullopt;
  return lastReply_;
}

// A PC that answered a repeated reply may have answered it twice, the second answer crossing the
// IRD's next request on the line. A header begins with the magic's 0x00 and a packet with 0x47,
// so an answer byte where a unit should begin is that second answer, not data.
bool IrdReceiver::RepeatedAnswer(std::uint8_t byte) {
  return byte == CMD_CONNECT_RE_ACK || byte == CMD_HEADER_ANSWER || byte == CMD_DATA_ANSWER;
}

std::optional<std::uint8_t> IrdReceiver::Unexpected() {
  store_.CountUnexpected();
  return std::nullopt;
}

std::uint8_t IrdReceiver::OnHeaderComplete() {
  const std::uint32_t index = headersReceived_++;
  const bool nacked = plan_.Find(FaultKind::NackHeader, index) != nullptr;
  if (nacked) store_.CountFault(FaultKind::NackHeader);
  headerAccepted_ = !nacked && ReadLe32(&header_[kMagicOffset]) == kImageMagic;
  if (!headerAccepted_) {
    store_.Update([](Report& report) { ++report.files.back().headersRejected; });
    return CMD_HEADER_NACK;
  }
  payloadSize_ = ReadLe32(&header_[kSizeOffset]);
  // In 64 bits so that no size can wrap the count.
  const std::uint64_t packets = skipsPaddingPacket_
                                    ? (std::uint64_t{payloadSize_} + kChunkSize - 1) / kChunkSize
                                    : std::uint64_t{payloadSize_} / kChunkSize + 1;
  packetsExpected_ = static_cast<std::uint32_t>(packets);
  nextPacket_ = 0;
  store_.Update([this](Report& report) {
    ReceivedFile& file = report.files.back();
    file.header = header_;
    file.payload.clear();
    file.packetsExpected = packetsExpected_;
  });
  return CMD_HEADER_ACK;
}

std::uint8_t IrdReceiver::OnPacketComplete() {
  const std::uint32_t index = packetsReceived_++;
  if (plan_.Find(FaultKind::CorruptPacketByte, index) != nullptr) {
    const FaultPlan::ByteFlip flip = plan_.PacketFlip(index);
    packet_[flip.position] ^= flip.mask;
    store_.CountFault(FaultKind::CorruptPacketByte);
  }
  const bool nacked = plan_.Find(FaultKind::NackPacket, index) != nullptr;
  if (nacked) store_.CountFault(FaultKind::NackPacket);
  if (nacked || packet_[0] != kPacketType || !ChecksumMatches(packet_)) {
    store_.Update([](Report& report) { ++report.files.back().packetsRejected; });
    return CMD_DATA_NACK;
  }
  const std::uint32_t k = nextPacket_++;
  const std::size_t chunk = ChunkLength(payloadSize_, k);
  store_.Update([&](Report& report) {
    ReceivedFile& file = report.files.back();
    // Packets arrive in order, so chunk k always lands at the end of what is there.
    file.payload.insert(file.payload.end(), packet_.begin() + 1, packet_.begin() + 1 + chunk);
    ++file.packetsAccepted;
  });
  return CMD_DATA_ACK;
}

std::uint8_t IrdReceiver::OnPacketAnswered() {
  if (nextPacket_ < packetsExpected_) {
    phase_ = Phase::ReceivePacket;
    return CMD_DATA_REQ;
  }
  phase_ = Phase::WaitTerminateAnswer;
  const bool fail = plan_.Has(FaultKind::FailTerminate);
  if (fail) store_.CountFault(FaultKind::FailTerminate);
  terminateWasSuccess_ = !fail;
  store_.Update([fail](Report& report) { report.files.back().successTerminate = !fail; });
  return fail ? CMD_TERMINATE_FAIL : CMD_TERMINATE_OK;
}

void IrdReceiver::OnTerminateAnswered() {
  phase_ = Phase::WaitConnect;
  store_.Update([](Report& report) { report.files.back().terminated = true; });
}

}  // namespace irdload::sim
