// UTF-8 as the records and event lines need it: every text they write is valid UTF-8, whatever
// bytes a file name or a scanner gave.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace irdload::unit {

/// Bytes of the valid UTF-8 sequence at the start of `text` (1 for ASCII), or 0 when it does not
/// start with one (a stray byte, a cut sequence, an overlong form, a surrogate, past U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view text);
bool IsValidUtf8(std::string_view text);
/// `text` with each byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);
/// Characters (code points) of valid UTF-8 text.
std::size_t CodePoints(std::string_view text);

}  // namespace irdload::unit
