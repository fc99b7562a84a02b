#include "unit/Json.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "unit/Utf8.h"

namespace irdload::unit {
namespace {

// Every string in `value` (keys too) as valid UTF-8, byte by byte.
Json Repaired(const Json& value) {
  if (value.is_string()) return ValidUtf8(value.get_ref<const std::string&>());
  if (value.is_array()) {
    Json out = Json::array();
    for (const Json& item : value) out.push_back(Repaired(item));
    return out;
  }
  if (value.is_object()) {
    Json out = Json::object();
    for (auto it = value.begin(); it != value.end(); ++it) {
      out[ValidUtf8(it.key())] = Repaired(it.value());
    }
    return out;
  }
  return value;
}

}  // namespace

std::string JsonText(const Json& value) {
  std::string text;
  try {
    text = value.dump();
  } catch (const Json::type_error&) {
    // Not valid UTF-8 somewhere: the library would cut a bad sequence short as one U+FFFD,
    // while the records and the CSV replace each byte; do as they do.
    text = Repaired(value).dump();
  }
  // DEL is valid JSON as it stands, but a terminal shows nothing for it.
  for (std::size_t at; (at = text.find('\x7f')) != std::string::npos;) {
    text.replace(at, 1, "\\u007f");
  }
  return text;
}

std::string JsonString(std::string_view text) {
  return JsonText(Json(std::string(text)));
}

Json JsonNumber(double value, int decimals) {
  if (!std::isfinite(value)) return nullptr;
  if (decimals <= 0) return static_cast<std::int64_t>(std::llround(value));
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

Json TextOrNull(const std::string& text) {
  return text.empty() ? Json(nullptr) : Json(text);
}

std::string UtcTimestamp(std::chrono::system_clock::time_point time) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
  const std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(ms.count() % 1000));
  return buf;
}

}  // namespace irdload::unit
