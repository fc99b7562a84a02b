#include "unit/UnitRecord.h"

#include <cstdio>

#include "engine/Link.h"
#include "unit/Json.h"
#include "unit/UnitCsv.h"

namespace irdload::unit {
std::string TypeCodeText(std::uint32_t typeCode) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", typeCode);
  return buf;
}

std::string FileSafe(const std::string& label) {
  std::string out = label;
  for (char& c : out) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '-' || c == '_';
    if (!keep) c = '_';
  }
  if (out.empty() || out[0] == '.') out.insert(out.begin(), '_');
  return out;
}

std::string RecordJson(const UnitRecord& r) {
  std::vector<std::string> files;
  for (const FileRecord& f : r.files) {
    files.push_back(JsonObject()
                        .Str("path", f.path)
                        .Int("size", static_cast<std::int64_t>(f.size))
                        .Str("sha256", f.sha256)
                        .Str("typeCode", TypeCodeText(f.typeCode))
                        .Int("payloadSize", f.payloadSize)
                        .Int("packets", f.packets)
                        .Text());
  }
  std::vector<std::string> earlier;
  for (const std::string& e : r.earlierAttempts) earlier.push_back(JsonString(e));
  const AdapterRecord& a = r.adapter;
  JsonObject o;
  o.Int("schema", kRecordSchema)
      .Str("tool", r.toolVersion)
      .Str("started", UtcTimestamp(r.started))
      .Str("ended", UtcTimestamp(r.ended))
      .Str("host", r.host)
      .Str("port", r.portLabel)
      .Str("portPath", r.portPath)
      .Raw("adapter", JsonObject()
                          .Str("device", a.device)
                          .Str("byPath", a.byPath)
                          .Str("byId", a.byId)
                          .Str("vendorId", a.vendorId)
                          .Str("productId", a.productId)
                          .Str("serial", a.serial)
                          .Str("manufacturer", a.manufacturer)
                          .Str("product", a.product)
                          .Str("driver", a.driver)
                          .Text())
      .Raw("files", JsonArray(files))
      .Str("unitId", r.unitId)
      .Int("unit", r.unit)
      .Int("attempts", r.attempts)
      .Raw("earlierAttempts", JsonArray(earlier))
      .Int("packetsSent", r.packetsSent)
      .Int("failedSteps", r.counts.failedSteps)
      .Int("rejections", r.counts.rejections)
      .Int("repeats", r.counts.repeats)
      .Int("lateReplies", r.counts.lateReplies)
      .Int("staleBytes", r.counts.staleBytes)
      .Num("durationSeconds", r.durationSeconds, 3);
  if (r.lineEfficiency) {
    o.Num("lineEfficiency", *r.lineEfficiency, 4);
  } else {
    o.Null("lineEfficiency");
  }
  o.Bool("loaded", r.loaded())
      .Str("outcome", OutcomeName(r.outcome.kind))
      .Str("reason", FailureReasonName(r.outcome.reason))
      .Int("exitCode", r.exitCode)
      .Str("message", r.outcome.message)
      .Str("detail", r.outcome.detail);
  if (r.trace.empty()) {
    o.Null("trace");
  } else {
    o.Str("trace", r.trace);
  }
  return o.Text();
}

}  // namespace irdload::unit

namespace irdload::unit {

int UnitExitCode(OutcomeKind kind) {
  switch (kind) {
    case OutcomeKind::Success:
      return 0;
    case OutcomeKind::Failed:
      return 4;
    case OutcomeKind::NoResponse:
      return 5;
    case OutcomeKind::PortOpenFailed:
      return 3;
    case OutcomeKind::FileRefused:
      return 2;
    case OutcomeKind::Stopped:
      return 130;
  }
  return 1;
}

std::uint64_t RecordRoom(const UnitRecord& draft, int attempts) {
  // An outcome's message and detail, and an earlier attempt's summary, are the engine's short
  // sentences; each attempt may add them to the JSON record and to the CSV line, escaped.
  constexpr std::uint64_t kPerAttempt = 4096;
  constexpr std::uint64_t kNumbers = 1024;  // times, counts and sums the draft holds as zeros
  return RecordJson(draft).size() + CsvLine(draft).size() +
         kPerAttempt * static_cast<std::uint64_t>(attempts < 1 ? 1 : attempts) + kNumbers;
}

std::chrono::nanoseconds ProtocolLineTime(const std::vector<std::uint32_t>& payloadSizes) {
  // After the re-acknowledge: 0xE3, the 64-byte header, 0xE4, 0xE6, then per packet 0xE7, the
  // 1024 packet bytes, 0xE8 and 0xEA, and at the end 0xEB and 0xED. A chained second file adds
  // its own 0xE1, 0xE2 and 0xEF. Each byte is 10 bit times.
  std::uint64_t bytes = 0;
  for (std::size_t i = 0; i < payloadSizes.size(); ++i) {
    const std::uint64_t packets = payloadSizes[i] / kChunkSize + 1;
    bytes += (i == 0 ? 69 : 72) + 1027 * packets;
  }
  return std::chrono::nanoseconds{
      static_cast<std::int64_t>(bytes * 10 * 1'000'000'000ULL / 115200)};
}

}  // namespace irdload::unit
