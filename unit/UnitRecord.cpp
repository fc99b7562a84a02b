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
  Json files = Json::array();
  for (const FileRecord& f : r.files) {
    Json file;
    file["path"] = f.path;
    file["size"] = f.size;
    file["sha256"] = f.sha256;
    file["typeCode"] = TypeCodeText(f.typeCode);
    file["payloadSize"] = f.payloadSize;
    file["packets"] = f.packets;
    files.push_back(std::move(file));
  }
  const AdapterRecord& a = r.adapter;
  Json adapter;
  adapter["device"] = a.device;
  adapter["byPath"] = a.byPath;
  adapter["byId"] = a.byId;
  adapter["vendorId"] = a.vendorId;
  adapter["productId"] = a.productId;
  adapter["serial"] = a.serial;
  adapter["manufacturer"] = a.manufacturer;
  adapter["product"] = a.product;
  adapter["driver"] = a.driver;
  Json o;
  o["schema"] = kRecordSchema;
  o["tool"] = r.toolVersion;
  o["started"] = UtcTimestamp(r.started);
  o["ended"] = UtcTimestamp(r.ended);
  o["host"] = r.host;
  o["port"] = r.portLabel;
  o["portPath"] = r.portPath;
  o["adapter"] = std::move(adapter);
  o["files"] = std::move(files);
  o["unitId"] = r.unitId;
  o["unit"] = r.unit;
  o["attempts"] = r.attempts;
  o["earlierAttempts"] = r.earlierAttempts;
  o["packetsSent"] = r.packetsSent;
  o["failedSteps"] = r.counts.failedSteps;
  o["rejections"] = r.counts.rejections;
  o["repeats"] = r.counts.repeats;
  o["lateReplies"] = r.counts.lateReplies;
  o["staleBytes"] = r.counts.staleBytes;
  o["durationSeconds"] = JsonNumber(r.durationSeconds, 3);
  o["lineEfficiency"] = r.lineEfficiency ? JsonNumber(*r.lineEfficiency, 4) : Json(nullptr);
  o["loaded"] = r.loaded();
  o["outcome"] = OutcomeName(r.outcome.kind);
  o["reason"] = FailureReasonName(r.outcome.reason);
  o["exitCode"] = r.exitCode;
  o["message"] = r.outcome.message;
  o["detail"] = r.outcome.detail;
  o["trace"] = TextOrNull(r.trace);
  return JsonText(o);
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
