#include "engine/Image.h"

#include <cstdio>
#include <new>

#include "engine/FileChoice.h"

namespace irdload {
namespace {

// The kind after a type code, or a refusal.
const char* ApplyTypeCode(std::uint32_t typeCode, ImageKind& kind) {
  switch (typeCode) {
    case kTypeFirstOfPair:
      kind = IMAGE_FIRST;
      return nullptr;
    case kTypeSecondOfPair:
      if (kind != IMAGE_FIRST) return "Invalid Second file";
      kind = IMAGE_SECOND;
      return nullptr;
    case kTypeSingle:
      kind = IMAGE_SINGLE;
      return nullptr;
    default:
      return nullptr;
  }
}

}  // namespace

std::uint64_t EstimateSeconds(std::uint32_t payloadSize, std::uint32_t lastPacketIndex) {
  // 64-bit: the 32-bit sum of the original formula wraps for payloads near 4 GiB.
  const std::uint64_t size = payloadSize;
  return (size + std::uint64_t{lastPacketIndex} * 300 + 64) / 14400 + (size / 65536) * 2 + 2;
}

std::string FormatMinutesSeconds(std::uint64_t seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                static_cast<unsigned long long>(seconds % 60));
  return buf;
}

namespace {

std::string TypeText(std::uint32_t type) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", type);
  return text;
}

}  // namespace

std::optional<Refusal> CheckChoiceTypes(const std::string& firstPath, std::uint32_t firstType,
                                        const std::string& secondPath,
                                        std::optional<std::uint32_t> secondType) {
  if (!secondPath.empty()) {
    if (firstType != kTypeFirstOfPair) {
      return Refusal{"Invalid File", firstPath + ": the first file of a pair must be typed " +
                                         TypeText(kTypeFirstOfPair) + ", not " +
                                         TypeText(firstType)};
    }
    if (secondType != kTypeSecondOfPair) {
      return Refusal{"Invalid Second file",
                     secondPath + ": the second file of a pair must be typed " +
                         TypeText(kTypeSecondOfPair) +
                         (secondType ? ", not " + TypeText(*secondType) : std::string())};
    }
    return std::nullopt;
  }
  if (firstType == kTypeFirstOfPair && FileExtension(firstPath) != "u01") {
    return Refusal{"Invalid File", firstPath + " is typed as the first file of a pair (" +
                                       TypeText(kTypeFirstOfPair) +
                                       "): choose it as a .u01 together with its .u02"};
  }
  return std::nullopt;
}

ImageCheck InspectImage(UpgradeFile& file, ImageKind kindBefore) {
  ImageCheck seen;
  seen.kindAfterLoad = kindBefore;
  if (file.ReadAt(0, seen.header.data(), kHeaderSize) < kHeaderSize) {
    seen.refusal = "Read Error!";
    return seen;
  }
  if (ReadLe32(seen.header.data() + kMagicOffset) != kImageMagic) {
    seen.refusal = "Invalid file: magic number miss match";
    return seen;
  }
  seen.fileLength = file.Length();
  seen.payloadSize = ReadLe32(seen.header.data() + kSizeOffset);
  seen.typeCode = ReadLe32(seen.header.data() + kTypeOffset);
  // In 64 bits: a size near 2^32 must not wrap around into a match.
  if (std::uint64_t{seen.payloadSize} + kHeaderSize != seen.fileLength) {
    seen.refusal = "Invalid file size: check main.auc";
    return seen;
  }
  seen.lastPacketIndex = LastPacketIndex(seen.payloadSize);
  seen.sized = true;
  if (const char* refusal = ApplyTypeCode(seen.typeCode, seen.kindAfterLoad)) {
    seen.refusal = refusal;
    return seen;
  }
  seen.typed = true;
  return seen;
}

ImageCheck LoadImage(UpgradeFile& file, ImageKind& kind, UpgradeImage& image) {
  ImageCheck seen = InspectImage(file, kind);
  if (seen.typed) kind = seen.kindAfterLoad;
  if (!seen.loads()) return seen;
  // One byte more than asked, so that a zero-size payload still gets a block of its own.
  std::unique_ptr<std::uint8_t[]> block(new (std::nothrow)
                                            std::uint8_t[seen.payloadSize + std::size_t{1}]);
  if (!block) {
    seen.refusal = "Malloc Error!";
    return seen;
  }
  if (file.ReadAt(kHeaderSize, block.get(), seen.payloadSize) < seen.payloadSize) {
    seen.refusal = "_lread Error!";
    return seen;
  }
  Sha256 sha;
  sha.Update(seen.header.data(), kHeaderSize);
  sha.Update(block.get(), seen.payloadSize);
  image.header = seen.header;
  image.payloadSize = seen.payloadSize;
  image.lastPacketIndex = seen.lastPacketIndex;
  image.payload = std::move(block);
  image.sha256 = sha.Final();
  return seen;
}

}  // namespace irdload
