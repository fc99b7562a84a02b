#include "unit/UnitCsv.h"

#include <cstdio>
#include <vector>

#include "unit/Json.h"
#include "unit/Utf8.h"

namespace irdload::unit {
namespace {

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

std::string CsvCell(std::string_view text) {
  std::string out;
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
    out += '\'';
  }
  out += ValidUtf8(text);
  const bool quote = out.find_first_of(",\"\r\n") != std::string::npos;
  std::string cell = quote ? "\"" : "";
  for (char c : out) {
    if (c == '"') cell += '"';
    cell += (c == '\r' || c == '\n') ? ' ' : c;
  }
  return quote ? cell + "\"" : cell;
}

std::string CsvHeader() {
  return "started,ended,tool,host,port,port_path,device,by_path,by_id,vendor_id,product_id,"
         "serial,manufacturer,product,driver,files,sizes,sha256,type_codes,payload_sizes,"
         "unit_id,unit,attempts,packets_sent,failed_steps,rejections,repeats,late_replies,"
         "stale_bytes,duration_s,line_efficiency,loaded,"
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
      std::to_string(r.counts.failedSteps),
      std::to_string(r.counts.rejections),
      std::to_string(r.counts.repeats),
      std::to_string(r.counts.lateReplies),
      std::to_string(r.counts.staleBytes),
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
  for (std::size_t i = 0; i < fields.size(); ++i) line += (i ? "," : "") + CsvCell(fields[i]);
  return line + "\n";
}

}  // namespace irdload::unit
