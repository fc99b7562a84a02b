// LoadImage on arbitrary file bytes: it must refuse or load exactly the bytes after the header.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "engine/Image.h"
#include "fuzz/NullHost.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace irdload;
  const int fd = ::memfd_create("image", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size)) {
    ::close(fd);
    return 0;
  }
  fuzz::NullHost host;
  for (ImageKind before : {IMAGE_NONE, IMAGE_FIRST}) {
    ImageFile file;
    if (!file.Open("/proc/self/fd/" + std::to_string(fd), nullptr)) break;
    ImageKind kind = before;
    UpgradeImage image;
    const bool ok = LoadImage(file, kind, host, image);
    if (file.isOpen()) std::abort();
    if (!ok) continue;
    if (size < kHeaderSize || image.payloadSize != size - kHeaderSize) std::abort();
    if (std::memcmp(image.header.data(), data, kHeaderSize) != 0) std::abort();
    if (image.payloadSize > 0 && std::memcmp(image.payload.get(), data + kHeaderSize, image.payloadSize) != 0) {
      std::abort();
    }
    if (image.lastPacketIndex != image.payloadSize / kChunkSize) std::abort();
  }
  ::close(fd);
  return 0;
}
