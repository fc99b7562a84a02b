#include "station/StationSnapshot.h"

#include "unit/Json.h"
#include "unit/JsonEvents.h"

namespace irdload::station {
namespace {

using namespace unit;

struct FoldEvent {
  PortSnapshot& s;

  void operator()(const PhaseChanged& e) {
    if (e.phase == PortPhase::SendingHeader && s.phase != PortPhase::SendingHeader &&
        s.transferSince == std::chrono::steady_clock::time_point{}) {
      s.transferSince = std::chrono::steady_clock::now();
    }
    s.phase = e.phase;
    s.status = e.status;
    s.detail = e.detail;
  }
  void operator()(const UnitStarted& e) {
    s.unit = e.unit;
    s.unitId = e.unitId;
    s.file = 0;
    s.packetsDone = s.packets = 0;
    s.bytesDone = s.bytes = 0;
    s.rejections = s.repeats = s.lateReplies = 0;
    s.transferSince = {};
  }
  void operator()(const ProgressShown& e) {
    s.file = e.file;
    s.packetsDone = e.packetsDone;
    s.packets = e.packets;
    s.bytesDone = e.bytesDone;
    s.bytes = e.bytes;
    s.rejections = e.rejections;
    s.repeats = e.repeats;
    s.lateReplies = e.lateReplies;
  }
  void operator()(const MessageShown&) {}
  void operator()(const UnitEnded& e) {
    if (!e.counted || !e.final) return;
    const bool loaded = e.outcome.kind == OutcomeKind::Success;
    (loaded ? s.ok : s.failed) += 1;
    if (e.outcome.kind == OutcomeKind::Stopped) s.stopped += 1;
    s.last = LastUnit{e.unit, e.unitId, loaded, e.outcome, e.exitCode, e.record, e.recordError};
  }
  void operator()(const PortFinished&) { s.finished = true; }
};

std::string PortJson(const PortSnapshot& r, std::chrono::steady_clock::time_point now) {
  const TransferPace pace = PaceOf(r, now);
  JsonObject o;
  o.Str("port", r.label)
      .Str("portPath", r.path)
      .Str("state", PhaseName(r.phase))
      .Str("status", r.status)
      .Str("detail", r.detail)
      .Int("unit", r.unit)
      .Str("unitId", r.unitId)
      .Int("file", r.file)
      .Int("packetsDone", r.packetsDone)
      .Int("packets", r.packets)
      .Int("bytesDone", static_cast<std::int64_t>(r.bytesDone))
      .Int("bytes", static_cast<std::int64_t>(r.bytes))
      .Int("rejections", r.rejections)
      .Int("repeats", r.repeats)
      .Int("lateReplies", r.lateReplies)
      .Num("bytesPerSecond", pace.bytesPerSecond, 0);
  if (pace.secondsLeft >= 0) {
    o.Num("secondsLeft", pace.secondsLeft, 0);
  } else {
    o.Null("secondsLeft");
  }
  o.Int("ok", r.ok).Int("failed", r.failed);
  if (r.last) {
    JsonObject last;
    last.Int("unit", r.last->unit)
        .Str("unitId", r.last->unitId)
        .Bool("loaded", r.last->loaded)
        .Str("outcome", OutcomeName(r.last->outcome.kind))
        .Str("reason", FailureReasonName(r.last->outcome.reason))
        .Int("exitCode", r.last->exitCode);
    if (r.last->record.empty()) {
      last.Null("record");
    } else {
      last.Str("record", r.last->record);
    }
    o.Raw("last", last.Text());
  } else {
    o.Null("last");
  }
  return o.Bool("finished", r.finished).Text();
}

}  // namespace

void Fold(PortSnapshot& row, const PortEventBody& body) {
  std::visit(FoldEvent{row}, body);
}

std::string SnapshotJson(const StationSnapshot& s, std::chrono::system_clock::time_point time,
                         std::chrono::steady_clock::time_point now) {
  std::vector<std::string> ports;
  for (const PortSnapshot& r : s.ports) ports.push_back(PortJson(r, now));
  return JsonObject()
      .Int("schema", kEventSchema)
      .Str("time", UtcTimestamp(time))
      .Raw("ports", JsonArray(ports))
      .Int("ok", s.ok)
      .Int("failed", s.failed)
      .Bool("stopping", s.stopping)
      .Bool("halted", s.halted)
      .Bool("finished", s.finished)
      .Text();
}

TransferPace PaceOf(const PortSnapshot& r, std::chrono::steady_clock::time_point now) {
  TransferPace pace;
  const bool moving = r.phase == PortPhase::Transferring || r.phase == PortPhase::SendingHeader ||
                      r.phase == PortPhase::Terminating;
  if (!moving || r.transferSince == std::chrono::steady_clock::time_point{}) return pace;
  const double secs = std::chrono::duration<double>(now - r.transferSince).count();
  if (secs <= 0.5) return pace;
  pace.bytesPerSecond = static_cast<double>(r.bytesDone) / secs;
  if (pace.bytesPerSecond > 0 && r.bytes >= r.bytesDone) {
    pace.secondsLeft = static_cast<double>(r.bytes - r.bytesDone) / pace.bytesPerSecond;
  }
  return pace;
}

}  // namespace irdload::station
