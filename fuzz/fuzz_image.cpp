// LoadImage on arbitrary file bytes: it must refuse or load exactly the bytes after the header.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/Image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace irdload;
  for (ImageKind before : {IMAGE_NONE, IMAGE_FIRST}) {
    MemoryUpgradeFile file(std::vector<std::uint8_t>(data, data + size));
    ImageKind kind = before;
    UpgradeImage image;
    const ImageCheck check = LoadImage(file, kind, image);
    if (check.loads() != (image.payload != nullptr)) std::abort();
    if (check.typed !=
        (check.loads() || check.refusal == "Malloc Error!" || check.refusal == "_lread Error!")) {
      std::abort();
    }
    if (!check.loads()) continue;
    if (size < kHeaderSize || image.payloadSize != size - kHeaderSize) std::abort();
    if (std::memcmp(image.header.data(), data, kHeaderSize) != 0) std::abort();
    if (image.payloadSize > 0 &&
        std::memcmp(image.payload.get(), data + kHeaderSize, image.payloadSize) != 0) {
      std::abort();
    }
    if (image.lastPacketIndex != image.payloadSize / kChunkSize) std::abort();
    if (image.sha256 != Sha256Of(data, size)) std::abort();
  }
  return 0;
}
