#include "unit/JsonEvents.h"

#include "unit/Json.h"
#include "unit/UnitRecord.h"

namespace irdload::unit {
namespace {

Json Head(std::chrono::system_clock::time_point time, std::string_view event,
          const std::string* label) {
  Json o;
  o["schema"] = kEventSchema;
  o["time"] = UtcTimestamp(time);
  o["event"] = event;
  o["port"] = label ? Json(*label) : Json(nullptr);
  return o;
}

struct Body {
  Json& o;

  void operator()(const PhaseChanged& e) {
    o["state"] = PhaseName(e.phase);
    o["status"] = e.status;
    o["detail"] = e.detail;
  }
  void operator()(const UnitStarted& e) {
    o["unit"] = e.unit;
    o["attempt"] = e.attempt;
    o["unitId"] = e.unitId;
    o["device"] = e.device;
  }
  void operator()(const ProgressShown& e) {
    o["unit"] = e.unit;
    o["file"] = e.file;
    o["packetsDone"] = e.packetsDone;
    o["packets"] = e.packets;
    o["bytesDone"] = e.bytesDone;
    o["bytes"] = e.bytes;
    o["rejections"] = e.rejections;
    o["repeats"] = e.repeats;
    o["lateReplies"] = e.lateReplies;
  }
  void operator()(const MessageShown& e) {
    o["text"] = e.text;
    o["detail"] = e.detail;
  }
  void operator()(const UnitEnded& e) {
    o["unit"] = e.unit;
    o["attempt"] = e.attempt;
    o["counted"] = e.counted;
    o["final"] = e.final;
    o["loaded"] = e.outcome.kind == OutcomeKind::Success;
    o["outcome"] = OutcomeName(e.outcome.kind);
    o["reason"] = FailureReasonName(e.outcome.reason);
    o["exitCode"] = e.exitCode;
    o["message"] = e.outcome.message;
    o["detail"] = e.outcome.detail;
    o["unitId"] = e.unitId;
    o["record"] = TextOrNull(e.record);
    o["recordError"] = TextOrNull(e.recordError);
    o["failedSteps"] = e.counts.failedSteps;
    o["rejections"] = e.counts.rejections;
    o["repeats"] = e.counts.repeats;
    o["lateReplies"] = e.counts.lateReplies;
    o["staleBytes"] = e.counts.staleBytes;
  }
  void operator()(const PortFinished& e) {
    o["ok"] = e.ok;
    o["failed"] = e.failed;
    o["halted"] = e.halted;
  }
};

std::string_view EventName(const PortEventBody& body) {
  switch (body.index()) {
    case 0:
      return "state";
    case 1:
      return "start";
    case 2:
      return "progress";
    case 3:
      return "message";
    case 4:
      return "end";
    default:
      return "port-done";
  }
}

}  // namespace

std::string EventJson(const PortEvent& event, const std::string* label) {
  Json o = Head(event.time, EventName(event.body), label);
  std::visit(Body{o}, event.body);
  return JsonText(o);
}

JsonEventWriter::JsonEventWriter(std::ostream& out, std::vector<std::string> labels,
                                 std::chrono::milliseconds progressEvery)
    : out_(out), labels_(std::move(labels)), every_(progressEvery), ports_(labels_.size()) {}

void JsonEventWriter::Line(const std::string& json) {
  out_ << json << '\n';
  out_.flush();
}

void JsonEventWriter::WriteProgress(PortEvent event) {
  ports_[event.port].lastProgress = std::chrono::steady_clock::now();
  ports_[event.port].held.reset();
  Json o = Head(event.time, "progress", &labels_[event.port]);
  std::visit(Body{o}, event.body);
  Line(JsonText(o));
}

void JsonEventWriter::Write(const PortEvent& event) {
  if (event.port == kNoPort) {
    Line(EventJson(event, nullptr));
    return;
  }
  if (event.port >= labels_.size()) return;
  PortState& port = ports_[event.port];
  if (const auto* p = std::get_if<ProgressShown>(&event.body)) {
    const bool last = p->packetsDone == p->packets;
    if (last || !port.lastProgress ||
        std::chrono::steady_clock::now() - *port.lastProgress >= every_) {
      WriteProgress(event);
    } else {
      port.held = event;
    }
    return;
  }
  // Whatever happens next supersedes progress held back.
  port.held.reset();
  Line(EventJson(event, &labels_[event.port]));
}

void JsonEventWriter::Tick() {
  const auto now = std::chrono::steady_clock::now();
  for (PortState& port : ports_) {
    if (port.held && port.lastProgress && now - *port.lastProgress >= every_) {
      PortEvent event = std::move(*port.held);
      WriteProgress(std::move(event));
    }
  }
}

void JsonEventWriter::Lost(std::uint64_t count) {
  Json o = Head(std::chrono::system_clock::now(), "lost", nullptr);
  o["count"] = count;
  Line(JsonText(o));
}

void JsonEventWriter::Error(int exitCode, const std::string& message, const std::string& detail) {
  Json o = Head(std::chrono::system_clock::now(), "error", nullptr);
  o["exitCode"] = exitCode;
  o["message"] = message;
  o["detail"] = detail;
  Line(JsonText(o));
}

void JsonEventWriter::Summary(std::uint32_t ok, std::uint32_t failed, bool stopped, int exitCode) {
  Json o = Head(std::chrono::system_clock::now(), "summary", nullptr);
  o["units"] = ok + failed;
  o["ok"] = ok;
  o["failed"] = failed;
  o["stopped"] = stopped;
  o["exitCode"] = exitCode;
  Line(JsonText(o));
}

}  // namespace irdload::unit
