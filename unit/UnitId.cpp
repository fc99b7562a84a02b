#include "unit/UnitId.h"

#include <cstdio>

#include "unit/Utf8.h"

namespace irdload::unit {
namespace {

// C0 and C1 control characters and DEL: a terminal or a spreadsheet acts on them.
bool IsControl(std::string_view sequence) {
  const auto c = static_cast<unsigned char>(sequence[0]);
  if (sequence.size() == 1) return c < 0x20 || c == 0x7F;
  return c == 0xC2 && static_cast<unsigned char>(sequence[1]) < 0xA0;
}

}  // namespace

std::optional<std::string> UnitIdRefusal(std::string_view id) {
  if (!IsValidUtf8(id)) return "the unit id is not valid UTF-8 text";
  if (CodePoints(id) > kMaxUnitIdCharacters) {
    return "the unit id is longer than " + std::to_string(kMaxUnitIdCharacters) + " characters";
  }
  for (std::size_t i = 0; i < id.size();) {
    const std::size_t n = Utf8SequenceLength(id.substr(i));
    if (IsControl(id.substr(i, n))) return "the unit id holds a control character";
    i += n;
  }
  return std::nullopt;
}

std::string ShownUnitId(std::string_view id) {
  std::string out;
  std::size_t shown = 0;
  for (std::size_t i = 0; i < id.size() && shown < kMaxUnitIdCharacters; ++shown) {
    const std::size_t n = Utf8SequenceLength(id.substr(i));
    if (n == 0 || IsControl(id.substr(i, n))) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(id[i]));
      out += hex;
      ++i;
    } else {
      out.append(id.substr(i, n));
      i += n;
    }
  }
  return shown < CodePoints(id) ? out + "..." : out;
}

}  // namespace irdload::unit
