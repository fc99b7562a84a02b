// The one form every front end gives a duration in: the engine's minutes:seconds ("%02d:%02ld",
// as the dialog's fields show it), of whole seconds cut down, so that a clock reads 00:59 until a
// minute has passed and a time left reads 00:00 only when nothing is left.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "engine/Image.h"

namespace irdload::unit {

template <class Rep, class Period>
std::string MinutesSeconds(std::chrono::duration<Rep, Period> duration) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(duration).count();
  return FormatMinutesSeconds(seconds < 0 ? 0 : static_cast<std::uint64_t>(seconds));
}

}  // namespace irdload::unit
