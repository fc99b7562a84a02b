#include "ui/DialogFields.h"

#include <cstdio>

#include "engine/Image.h"
#include "engine/Link.h"

namespace irdload {
namespace {

struct Writes {
  FieldWriter& out;

  void operator()(const StateEntered& e) {
    if (!e.status.empty()) out.SetField(FIELD_STATUS, std::string(e.status));
  }
  void operator()(const ReplyReceived& e) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", e.reply);
    out.SetField(FIELD_LAST_REPLY, text);
  }
  void operator()(const RetryCountShown& e) {
    out.SetField(FIELD_RETRY_COUNT, std::to_string(e.retryCount));
  }
  void operator()(const ImageSized& e) { out.SetProgressRange(0, static_cast<int>(e.packets)); }
  void operator()(const ImageAccepted& e) {
    out.SetField(FIELD_TOTAL_SIZE, std::to_string(e.payloadSize));
    out.SetField(FIELD_ESTIMATE, FormatMinutesSeconds(e.estimateSeconds));
  }
  void operator()(const ProgressMade& e) {
    // The fields show the next packet number, which is back at 0 after the last packet.
    out.SetProgressPos(static_cast<int>(e.packetIndex));
    out.SetField(FIELD_BYTES_SENT, std::to_string(std::uint64_t{e.packetIndex} * kChunkSize));
    out.SetField(FIELD_PACKET_NUMBER, std::to_string(e.packetIndex));
  }
  void operator()(const ClockStarted&) { out.StartElapsedClock(); }
  void operator()(const ClockStopped&) { out.StopElapsedClock(); }
  void operator()(const DownloadEnded& e) {
    const OutcomeKind kind = e.outcome.kind;
    if (kind == OutcomeKind::Success || kind == OutcomeKind::Failed) {
      out.SetField(FIELD_STATUS, e.outcome.message);
    }
  }
  void operator()(const ImageLoaded&) {}
  void operator()(const PortOpened&) {}
  void operator()(const PortOpenFailed&) {}
  // The facts for records and logs (Connected, RepeatAnswered, ...) show nothing here.
  template <class Fact>
  void operator()(const Fact&) {}
};

struct Keys {
  int operator()(const StateEntered&) const { return FIELD_STATUS; }
  int operator()(const DownloadEnded&) const { return FIELD_STATUS; }
  int operator()(const ReplyReceived&) const { return FIELD_LAST_REPLY; }
  int operator()(const RetryCountShown&) const { return FIELD_RETRY_COUNT; }
  int operator()(const ImageSized&) const { return FIELD_PROGRESS; }
  int operator()(const ProgressMade&) const { return FIELD_PROGRESS; }
  int operator()(const ImageAccepted&) const { return FIELD_TOTAL_SIZE; }
  int operator()(const ClockStarted&) const { return kElapsedClockKey; }
  int operator()(const ClockStopped&) const { return kElapsedClockKey; }
  int operator()(const ImageLoaded&) const { return kNoDisplayKey; }
  int operator()(const PortOpened&) const { return kNoDisplayKey; }
  int operator()(const PortOpenFailed&) const { return kNoDisplayKey; }
  template <class Fact>
  int operator()(const Fact&) const {
    return kNoDisplayKey;
  }
};

}  // namespace

void WriteFields(const EngineEvent& event, FieldWriter& out) {
  std::visit(Writes{out}, event);
}

int DisplayKey(const EngineEvent& event) {
  return std::visit(Keys{}, event);
}

}  // namespace irdload
