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

unit::Json PortJson(const PortSnapshot& r, std::chrono::steady_clock::time_point now) {
  const TransferPace pace = PaceOf(r, now);
  Json o;
  o["port"] = r.label;
  o["portPath"] = r.path;
  o["state"] = PhaseName(r.phase);
  o["status"] = r.status;
  o["detail"] = r.detail;
  o["unit"] = r.unit;
  o["unitId"] = r.unitId;
  o["file"] = r.file;
  o["packetsDone"] = r.packetsDone;
  o["packets"] = r.packets;
  o["bytesDone"] = r.bytesDone;
  o["bytes"] = r.bytes;
  o["rejections"] = r.rejections;
  o["repeats"] = r.repeats;
  o["lateReplies"] = r.lateReplies;
  o["bytesPerSecond"] = JsonNumber(pace.bytesPerSecond, 0);
  o["secondsLeft"] = pace.secondsLeft >= 0 ? JsonNumber(pace.secondsLeft, 0) : Json(nullptr);
  o["ok"] = r.ok;
  o["failed"] = r.failed;
  o["stopped"] = r.stopped;
  if (r.last) {
    Json last;
    last["unit"] = r.last->unit;
    last["unitId"] = r.last->unitId;
    last["loaded"] = r.last->loaded;
    last["outcome"] = OutcomeName(r.last->outcome.kind);
    last["reason"] = FailureReasonName(r.last->outcome.reason);
    last["exitCode"] = r.last->exitCode;
    last["record"] = TextOrNull(r.last->record);
    o["last"] = std::move(last);
  } else {
    o["last"] = nullptr;
  }
  o["finished"] = r.finished;
  return o;
}

}  // namespace

void Fold(PortSnapshot& row, const PortEventBody& body) {
  std::visit(FoldEvent{row}, body);
}

std::string SnapshotJson(const StationSnapshot& s, std::chrono::system_clock::time_point time,
                         std::chrono::steady_clock::time_point now) {
  Json ports = Json::array();
  for (const PortSnapshot& r : s.ports) ports.push_back(PortJson(r, now));
  Json o;
  o["schema"] = kEventSchema;
  o["time"] = UtcTimestamp(time);
  o["ports"] = std::move(ports);
  o["ok"] = s.ok;
  o["failed"] = s.failed;
  o["stopping"] = s.stopping;
  o["halted"] = s.halted;
  o["finished"] = s.finished;
  return JsonText(o);
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
