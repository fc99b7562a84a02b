#include "cli/SimulatedReceiver.h"

#include "cli/Console.h"
#include "cli/FaultText.h"
#include "engine/Sha256.h"
#include "sim/VirtualIrd.h"

namespace irdload::cli {
namespace {

class SimulatedReceiver final : public OwnReceiver {
 public:
  explicit SimulatedReceiver(const sim::VirtualIrd::Options& options) : ird_(options) {}

  bool Start(std::string* why) {
    if (!ird_.Start(why)) return false;
    port_ = ird_.SlavePath();
    return true;
  }
  const std::string& port() const override { return port_; }

  // What the virtual IRD holds against what the engine loaded (not the files on disk, which
  // may have changed since).
  int Verify(const std::vector<ImageLoaded>& loaded, std::ostream& out,
             std::ostream& err) const override {
    const sim::Report report = ird_.GetReport();
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

 private:
  sim::VirtualIrd ird_;
  std::string port_;
};

}  // namespace

std::unique_ptr<OwnReceiver> StartSimulatedReceiver(std::uint32_t baud,
                                                    const std::vector<std::string>& faults,
                                                    std::ostream& err, int& exitCode) {
  sim::VirtualIrd::Options o;
  o.baud = baud;
  for (const auto& text : faults) {
    sim::Fault fault{};
    if (!ParseFault(text, fault)) {
      Complain(err, "unknown fault \"" + text + "\"", "use Kind[@at[:value]], e.g. NackPacket@3");
      exitCode = EXIT_REFUSED;
      return nullptr;
    }
    o.faults.push_back(fault);
  }
  auto receiver = std::make_unique<SimulatedReceiver>(o);
  std::string why;
  if (!receiver->Start(&why)) {
    Complain(err, "the virtual IRD did not start", why);
    exitCode = EXIT_INTERNAL;
    return nullptr;
  }
  return receiver;
}

}  // namespace irdload::cli
