// The kind of the engine's last outcome, for assertions; nothing before the first.
#pragma once

#include <optional>

#include "engine/DownloadEngine.h"

namespace irdload::test {

inline std::optional<OutcomeKind> LastOutcomeKind(const DownloadEngine& engine) {
  const std::optional<Outcome> outcome = engine.lastOutcome();
  if (!outcome) return std::nullopt;
  return outcome->kind;
}

}  // namespace irdload::test
