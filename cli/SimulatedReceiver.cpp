#include "cli/SimulatedReceiver.h"

#include "cli/Console.h"
#include "cli/FaultText.h"
#include "cli/ReceiverCheck.h"
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

  int Verify(const std::vector<ImageLoaded>& loaded, std::ostream& out,
             std::ostream& err) const override {
    return VerifyReceived(ird_.GetReport(), loaded, out, err);
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
