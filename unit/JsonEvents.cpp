#include "unit/JsonEvents.h"

#include "unit/Json.h"
#include "unit/UnitRecord.h"

namespace irdload::unit {
namespace {

JsonObject Head(std::chrono::system_clock::time_point time, std::string_view event,
                const std::string* label) {
  JsonObject o;
  o.Int("schema", kEventSchema).Str("time", UtcTimestamp(time)).Str("event", event);
  if (label) {
    o.Str("port", *label);
  } else {
    o.Null("port");
  }
  return o;
}

struct Body {
  JsonObject& o;

  void operator()(const PhaseChanged& e) {
    o.Str("state", PhaseName(e.phase)).Str("status", e.status).Str("detail", e.detail);
  }
  void operator()(const UnitStarted& e) {
    o.Int("unit", e.unit).Int("attempt", e.attempt).Str("unitId", e.unitId).Str("device", e.device);
  }
  void operator()(const ProgressShown& e) {
    o.Int("unit", e.unit)
        .Int("file", e.file)
        .Int("packetsDone", e.packetsDone)
        .Int("packets", e.packets)
        .Int("bytesDone", static_cast<std::int64_t>(e.bytesDone))
        .Int("bytes", static_cast<std::int64_t>(e.bytes))
        .Int("rejections", e.rejections)
        .Int("repeats", e.repeats)
        .Int("lateReplies", e.lateReplies);
  }
  void operator()(const MessageShown& e) { o.Str("text", e.text).Str("detail", e.detail); }
  void operator()(const UnitEnded& e) {
    o.Int("unit", e.unit)
        .Int("attempt", e.attempt)
        .Bool("counted", e.counted)
        .Bool("final", e.final)
        .Bool("loaded", e.outcome.kind == OutcomeKind::Success)
        .Str("outcome", OutcomeName(e.outcome.kind))
        .Str("reason", FailureReasonName(e.outcome.reason))
        .Int("exitCode", e.exitCode)
        .Str("message", e.outcome.message)
        .Str("detail", e.outcome.detail)
        .Str("unitId", e.unitId);
    if (e.record.empty()) {
      o.Null("record");
    } else {
      o.Str("record", e.record);
    }
    if (e.recordError.empty()) {
      o.Null("recordError");
    } else {
      o.Str("recordError", e.recordError);
    }
    o.Int("failedSteps", e.counts.failedSteps)
        .Int("rejections", e.counts.rejections)
        .Int("repeats", e.counts.repeats)
        .Int("lateReplies", e.counts.lateReplies)
        .Int("staleBytes", e.counts.staleBytes);
  }
  void operator()(const PortFinished& e) {
    o.Int("ok", e.ok).Int("failed", e.failed).Bool("halted", e.halted);
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
  JsonObject o = Head(event.time, "progress", &labels_[event.port]);
  std::visit(Body{o}, event.body);
  Line(o.Text());
}

void JsonEventWriter::Write(const PortEvent& event) {
  if (event.port == kNoPort) {
    JsonObject o = Head(event.time, EventName(event.body), nullptr);
    std::visit(Body{o}, event.body);
    Line(o.Text());
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
  JsonObject o = Head(event.time, EventName(event.body), &labels_[event.port]);
  std::visit(Body{o}, event.body);
  Line(o.Text());
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
  JsonObject o = Head(std::chrono::system_clock::now(), "lost", nullptr);
  o.Int("count", static_cast<std::int64_t>(count));
  Line(o.Text());
}

void JsonEventWriter::Error(int exitCode, const std::string& message, const std::string& detail) {
  JsonObject o = Head(std::chrono::system_clock::now(), "error", nullptr);
  o.Int("exitCode", exitCode).Str("message", message).Str("detail", detail);
  Line(o.Text());
}

void JsonEventWriter::Summary(std::uint32_t ok, std::uint32_t failed, bool stopped, int exitCode) {
  JsonObject o = Head(std::chrono::system_clock::now(), "summary", nullptr);
  o.Int("units", ok + failed).Int("ok", ok).Int("failed", failed).Bool("stopped", stopped);
  o.Int("exitCode", exitCode);
  Line(o.Text());
}

}  // namespace irdload::unit
