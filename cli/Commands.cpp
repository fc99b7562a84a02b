#include "cli/Commands.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "cli/Console.h"
#include "engine/Image.h"
#include "engine/ImageWriter.h"

namespace irdload::cli {
namespace {

const char* KindName(ImageKind kind) {
  switch (kind) {
    case IMAGE_SINGLE:
      return "single file";
    case IMAGE_FIRST:
      return "first file of a pair";
    case IMAGE_SECOND:
      return "second file of a pair";
    default:
      return "unknown type (kind unchanged)";
  }
}

}  // namespace

int RunInspect(const std::string& path, std::ostream& out, std::ostream& err) {
  ImageFile file;
  std::string why;
  if (!file.Open(path, &why)) {
    Complain(err, "Open Error!", why);
    return EXIT_REFUSED;
  }
  // A second file is judged as the engine would judge it: after its first file.
  const ImageKind before = ChosenExtension(path) == "u02" ? IMAGE_FIRST : IMAGE_NONE;
  const ImageCheck seen = InspectImage(file, before);
  char type[16];
  std::snprintf(type, sizeof type, "0x%08X", seen.typeCode);
  char magic[16];
  std::snprintf(magic, sizeof magic, "0x%08X", ReadLe32(seen.header.data()));
  out << "file:          " << Printable(path) << '\n';
  if (seen.fileLength > 0 || seen.loads()) {
    out << "file length:   " << seen.fileLength << " bytes\n"
        << "magic:         " << magic
        << (ReadLe32(seen.header.data()) == kImageMagic ? " (ok)" : "") << '\n'
        << "type code:     " << type << " (" << KindName(seen.kindAfterLoad) << ")\n"
        << "payload size:  " << seen.payloadSize << " bytes\n";
  }
  if (seen.loads()) {
    out << "packets:       " << seen.lastPacketIndex + 1 << " of 1024 bytes\n"
        << "estimate:      "
        << FormatMinutesSeconds(EstimateSeconds(seen.payloadSize, seen.lastPacketIndex)) << '\n';
    // A second file is sound but never loads alone: send refuses it without its first file.
    if (before == IMAGE_FIRST) {
      out << "would load:    only after its first file: irdload-cli send FIRST.u01 "
          << Printable(path) << '\n';
      return EXIT_REFUSED;
    }
    out << "would load:    yes\n";
    return EXIT_OK;
  }
  out << "would load:    no: " << seen.refusal << '\n';
  return EXIT_REFUSED;
}

int RunPorts(const InventoryRoots& roots, std::ostream& out) {
  const auto ports = ListSerialPorts(roots);
  if (ports.empty()) {
    out << "No serial ports found.\n";
    return EXIT_OK;
  }
  for (const auto& p : ports) out << Printable(DescribePort(p)) << '\n';
  return EXIT_OK;
}

int RunMakeSample(const SampleOptions& options, std::ostream& out, std::ostream& err) {
  std::uint32_t type = kTypeSingle;
  if (options.type == "first")
    type = kTypeFirstOfPair;
  else if (options.type == "second")
    type = kTypeSecondOfPair;
  else if (options.type != "single") {
    Complain(err, "--type takes single, first or second");
    return EXIT_REFUSED;
  }
  if (options.size > 0xFFFFFFFFull) {
    Complain(err, "--size must fit 32 bits");
    return EXIT_REFUSED;
  }
  const auto bytes = ComposeImage(type, PatternPayload(options.size, options.seed));
  std::ofstream file(options.path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    Complain(err, "cannot write " + options.path, std::strerror(errno));
    return EXIT_REFUSED;
  }
  out << "Wrote " << Printable(options.path) << ": " << options.size << " payload bytes, "
      << options.type << '\n';
  return EXIT_OK;
}

}  // namespace irdload::cli
