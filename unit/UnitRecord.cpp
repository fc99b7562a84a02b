#include "unit/UnitRecord.h"

#include <cstdio>

#include "engine/Link.h"
#include "unit/Json.h"

namespace irdload::unit {
namespace {

// One unit is one line: line breaks inside a field become spaces.
std::string Csv(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (char c : field) {
    if (c == '"') out += '"';
    out += (c == '\r' || c == '\n') ? ' ' : c;
  }
  return out + "\"";
}

std::string Joined(const std::vector<FileRecord>& files, std::string FileRecord::*member) {
  std::string out;
  for (std::size_t i = 0; i < files.size(); ++i) out += (i ? ";" : "") + files[i].*member;
  return out;
}

std::string Decimal(double value, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

}  // namespace

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
      .Int("retries", r.retries)
      .Int("nacks", r.nacks)
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

std::string CsvHeader() {
  return "started,ended,tool,host,port,port_path,device,by_path,by_id,vendor_id,product_id,"
         "serial,manufacturer,product,driver,files,sizes,sha256,type_codes,payload_sizes,"
         "unit_id,unit,attempts,packets_sent,retries,nacks,duration_s,line_efficiency,loaded,"
         "outcome,reason,exit_code,message,detail,trace\n";
}

std::string CsvLine(const UnitRecord& r) {
  std::string sizes, types, payloads;
  for (std::size_t i = 0; i < r.files.size(); ++i) {
    const char* sep = i ? ";" : "";
    sizes += sep + std::to_string(r.files[i].size);
    types += sep + TypeCodeText(r.files[i].typeCode);
    payloads += sep + std::to_string(r.files[i].payloadSize);
  }
  const AdapterRecord& a = r.adapter;
  const std::vector<std::string> fields = {
      UtcTimestamp(r.started),
      UtcTimestamp(r.ended),
      r.toolVersion,
      r.host,
      r.portLabel,
      r.portPath,
      a.device,
      a.byPath,
      a.byId,
      a.vendorId,
      a.productId,
      a.serial,
      a.manufacturer,
      a.product,
      a.driver,
      Joined(r.files, &FileRecord::path),
      sizes,
      Joined(r.files, &FileRecord::sha256),
      types,
      payloads,
      r.unitId,
      std::to_string(r.unit),
      std::to_string(r.attempts),
      std::to_string(r.packetsSent),
      std::to_string(r.retries),
      std::to_string(r.nacks),
      Decimal(r.durationSeconds, 3),
      r.lineEfficiency ? Decimal(*r.lineEfficiency, 4) : std::string(),
      r.loaded() ? "true" : "false",
      std::string(OutcomeName(r.outcome.kind)),
      std::string(FailureReasonName(r.outcome.reason)),
      std::to_string(r.exitCode),
      r.outcome.message,
      r.outcome.detail,
      r.trace};
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) line += (i ? "," : "") + Csv(fields[i]);
  return line + "\n";
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
