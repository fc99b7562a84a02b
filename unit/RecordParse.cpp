#include "unit/RecordParse.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <type_traits>

namespace irdload::unit {
namespace {

// A field that is not there or not of its kind ends the reading, with the field's name.
struct Missing : std::runtime_error {
  using std::runtime_error::runtime_error;
};

const Json& Field(const Json& o, const char* name) {
  const auto it = o.find(name);
  if (it == o.end()) throw Missing(name);
  return *it;
}

std::string Text(const Json& o, const char* name) {
  const Json& v = Field(o, name);
  if (v.is_null()) return {};
  if (!v.is_string()) throw Missing(name);
  return v.get<std::string>();
}

template <class Number>
Number Whole(const Json& o, const char* name) {
  const Json& v = Field(o, name);
  using Limits = std::numeric_limits<Number>;
  if constexpr (std::is_unsigned_v<Number>) {
    if (!v.is_number_unsigned() || v.get<std::uint64_t>() > Limits::max()) throw Missing(name);
  } else {
    if (!v.is_number_integer()) throw Missing(name);
    const std::int64_t x = v.get<std::int64_t>();
    if (x < Limits::min() || x > Limits::max()) throw Missing(name);
  }
  return v.get<Number>();
}

std::optional<double> Decimal(const Json& o, const char* name) {
  const Json& v = Field(o, name);
  if (v.is_null()) return std::nullopt;
  if (!v.is_number()) throw Missing(name);
  return v.get<double>();
}

std::chrono::system_clock::time_point Time(const Json& o, const char* name) {
  const std::optional<std::chrono::system_clock::time_point> t = ParseUtcTimestamp(Text(o, name));
  if (!t) throw Missing(name);
  return *t;
}

std::uint32_t TypeCode(const Json& o, const char* name) {
  const std::string text = Text(o, name);
  std::uint32_t value = 0;
  if (text.size() != 10 || text.rfind("0x", 0) != 0 ||
      std::from_chars(text.data() + 2, text.data() + text.size(), value, 16).ptr !=
          text.data() + text.size()) {
    throw Missing(name);
  }
  return value;
}

template <class Enum>
Enum Named(const Json& o, const char* name, std::string_view (*nameOf)(Enum), int count) {
  const std::string text = Text(o, name);
  for (int i = 0; i < count; ++i) {
    if (nameOf(static_cast<Enum>(i)) == text) return static_cast<Enum>(i);
  }
  throw Missing(name);
}

int Digits(std::string_view text, std::size_t at, std::size_t n) {
  int value = 0;
  for (std::size_t i = at; i < at + n; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> ParseUtcTimestamp(std::string_view text) {
  // 2026-12-10T06:52:01.123Z
  if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != '.' || text[23] != 'Z') {
    return std::nullopt;
  }
  const int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  const int hour = Digits(text, 11, 2), minute = Digits(text, 14, 2);
  const int second = Digits(text, 17, 2), ms = Digits(text, 20, 3);
  if (year < 0 || month < 0 || day < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59 || ms < 0) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{std::chrono::year(year),
                                         std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok()) return std::nullopt;
  return std::chrono::system_clock::time_point(
      std::chrono::sys_days(date).time_since_epoch() + std::chrono::hours(hour) +
      std::chrono::minutes(minute) + std::chrono::seconds(second) + std::chrono::milliseconds(ms));
}

std::optional<UnitRecord> ParseRecord(const Json& o, std::string* error) {
  if (!o.is_object()) {
    *error = "a record is a JSON object";
    return std::nullopt;
  }
  try {
    const int schema = Whole<int>(o, "schema");
    if (schema != kRecordSchema) {
      *error = "a record of schema " + std::to_string(schema) + " (this program reads " +
               std::to_string(kRecordSchema) + ")";
      return std::nullopt;
    }
    UnitRecord r;
    r.toolVersion = Text(o, "tool");
    r.started = Time(o, "started");
    r.ended = Time(o, "ended");
    r.host = Text(o, "host");
    r.portLabel = Text(o, "port");
    r.portPath = Text(o, "portPath");
    const Json& a = Field(o, "adapter");
    if (!a.is_object()) throw Missing("adapter");
    r.adapter = {Text(a, "device"),       Text(a, "byPath"),    Text(a, "byId"),
                 Text(a, "vendorId"),     Text(a, "productId"), Text(a, "serial"),
                 Text(a, "manufacturer"), Text(a, "product"),   Text(a, "driver")};
    const Json& files = Field(o, "files");
    if (!files.is_array()) throw Missing("files");
    for (const Json& f : files) {
      if (!f.is_object()) throw Missing("files");
      r.files.push_back({Text(f, "path"), Whole<std::uint64_t>(f, "size"), Text(f, "sha256"),
                         TypeCode(f, "typeCode"), Whole<std::uint32_t>(f, "payloadSize"),
                         Whole<std::uint32_t>(f, "packets")});
    }
    r.unitId = Text(o, "unitId");
    r.unit = Whole<std::uint32_t>(o, "unit");
    r.attempts = Whole<int>(o, "attempts");
    const Json& earlier = Field(o, "earlierAttempts");
    if (!earlier.is_array()) throw Missing("earlierAttempts");
    for (const Json& e : earlier) {
      if (!e.is_string()) throw Missing("earlierAttempts");
      r.earlierAttempts.push_back(e.get<std::string>());
    }
    r.packetsSent = Whole<std::uint32_t>(o, "packetsSent");
    r.counts.failedSteps = Whole<std::uint32_t>(o, "failedSteps");
    r.counts.rejections = Whole<std::uint32_t>(o, "rejections");
    r.counts.repeats = Whole<std::uint32_t>(o, "repeats");
    r.counts.lateReplies = Whole<std::uint32_t>(o, "lateReplies");
    r.counts.staleBytes = Whole<std::uint32_t>(o, "staleBytes");
    r.durationSeconds = Decimal(o, "durationSeconds").value_or(0);
    r.lineEfficiency = Decimal(o, "lineEfficiency");
    r.outcome.kind = Named(o, "outcome", &OutcomeName, static_cast<int>(OutcomeKind::Stopped) + 1);
    r.outcome.reason = Named(o, "reason", &FailureReasonName,
                             static_cast<int>(FailureReason::AnswersNotHeard) + 1);
    r.exitCode = Whole<int>(o, "exitCode");
    r.outcome.message = Text(o, "message");
    r.outcome.detail = Text(o, "detail");
    r.trace = Text(o, "trace");
    // "loaded" follows from the outcome; a record that says otherwise contradicts itself.
    const Json& loaded = Field(o, "loaded");
    if (!loaded.is_boolean() || loaded.get<bool>() != r.loaded()) throw Missing("loaded");
    return r;
  } catch (const Missing& field) {
    *error = std::string("the record's \"") + field.what() + "\" is missing or not as written";
  } catch (const Json::exception& e) {
    *error = std::string("the record cannot be read: ") + e.what();
  }
  return std::nullopt;
}

}  // namespace irdload::unit
