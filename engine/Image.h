// Upgrade files: a 64-byte header (magic, type code, payload size; little-endian) and the
// payload. Loading checks the header and takes the payload into memory.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/DownloadState.h"
#include "engine/ImageFile.h"
#include "engine/Link.h"
#include "engine/Sha256.h"

namespace irdload {

using ImageHeader = std::array<std::uint8_t, kHeaderSize>;

/// The loaded image as the engine holds it.
struct UpgradeImage {
  ImageHeader header{};
  std::uint32_t payloadSize = 0;
  std::uint32_t lastPacketIndex = 0;
  std::unique_ptr<std::uint8_t[]> payload;
  /// Of the header and payload as loaded.
  Sha256Digest sha256{};
};

/// Estimated download time in whole seconds for a payload, from the tool's own formula.
std::uint64_t EstimateSeconds(std::uint32_t payloadSize, std::uint32_t lastPacketIndex);
/// "%02d:%02ld" of minutes and seconds; minutes are not limited to two digits.
std::string FormatMinutesSeconds(std::uint64_t seconds);

/// What a file's header says and how far it gets through the checks a load makes.
struct ImageCheck {
  ImageHeader header{};
  std::uint32_t typeCode = 0;
  std::uint32_t payloadSize = 0;
  std::uint32_t lastPacketIndex = 0;
  std::uint64_t fileLength = 0;
  ImageKind kindAfterLoad = IMAGE_NONE;
  /// The magic and size held: the packet count is known.
  bool sized = false;
  /// The type code was accepted too: the total size and estimate are shown from here on.
  bool typed = false;
  /// The exact message of the check that refused the file; empty when it passed them all.
  std::string refusal;

  bool loads() const { return refusal.empty(); }
  std::uint32_t packets() const { return lastPacketIndex + 1; }
};

/// Why a choice of files cannot be sent: the system's message and what is wrong, for the person.
struct Refusal {
  std::string message;
  std::string detail;
};

/// The type codes a choice of files must have before anything is sent. A pair is a first file
/// typed 0xFFEEFFAA and a second typed 0xFFEEFFBB: any other pair would end with the second file
/// never sent, or sent for ever. A file chosen alone must not be the first of a pair, unless it
/// was chosen as a ".u01", whose second file is asked for when it has gone.
std::optional<Refusal> CheckChoiceTypes(const std::string& firstPath, std::uint32_t firstType,
                                        const std::string& secondPath,
                                        std::optional<std::uint32_t> secondType);

/// The header's checks (magic, size against the file's length, type code after `kindBefore`),
/// without reading the payload.
ImageCheck InspectImage(UpgradeFile& file, ImageKind kindBefore);

/// Loads an open upgrade file: the header's checks, then the payload into memory ("Malloc
/// Error!", "_lread Error!"). `kind` follows the type code as soon as it is accepted, also when a
/// later step fails; `image` changes only when the whole file loaded.
ImageCheck LoadImage(UpgradeFile& file, ImageKind& kind, UpgradeImage& image);

}  // namespace irdload
