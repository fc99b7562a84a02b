#include "cli/ReceiverCheck.h"

#include "cli/Commands.h"
#include "cli/Console.h"
#include "engine/Sha256.h"

namespace irdload::cli {

// Against what the engine loaded, not the files on disk, which may have changed since.
int VerifyReceived(const sim::Report& report, const std::vector<ImageLoaded>& loaded,
                   std::ostream& out, std::ostream& err) {
  if (report.files.size() != loaded.size()) {
    Complain(err, "the virtual IRD received " + std::to_string(report.files.size()) +
                      " files, not " + std::to_string(loaded.size()));
    return EXIT_VERIFY;
  }
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < loaded.size(); ++i) {
    const auto& got = report.files[i];
    Sha256 sha;
    sha.Update(got.header.data(), got.header.size());
    sha.Update(got.payload.data(), got.payload.size());
    if (sha.Final() != loaded[i].sha256) {
      Complain(err, "the virtual IRD's image differs from " + loaded[i].path + " as loaded");
      return EXIT_VERIFY;
    }
    bytes += got.payload.size();
  }
  out << "Verified: the virtual IRD holds the image byte for byte (" << bytes << " bytes)\n";
  return EXIT_OK;
}

}  // namespace irdload::cli
