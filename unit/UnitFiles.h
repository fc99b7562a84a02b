// The upgrade files a unit gets, checked before any port is touched: the dialog's extension
// rules, then every check the engine's load makes. Shared by `send` and the station.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/Image.h"

namespace irdload::unit {

struct CheckedFile {
  std::string path;
  ImageCheck seen;
};

/// Nothing when `files` (FILE, or FILE and SECOND) can be sent, with `checked` filled; the
/// refusal otherwise (the system's message and what is wrong).
std::optional<Refusal> CheckUnitFiles(const std::vector<std::string>& files,
                                      std::vector<CheckedFile>& checked);

}  // namespace irdload::unit
