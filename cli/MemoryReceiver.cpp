#include "cli/MemoryReceiver.h"

#include "cli/ReceiverCheck.h"
#include "sim/InMemoryIrd.h"

namespace irdload::cli {
namespace {

class MemoryReceiver final : public OwnReceiver {
 public:
  explicit MemoryReceiver(const sim::VirtualIrd::Options& options) : ird_(options) {}

  const std::string& port() const override { return port_; }
  DeviceSource deviceSource() const override { return ird_.Source(); }
  int Verify(const std::vector<ImageLoaded>& loaded, std::ostream& out,
             std::ostream& err) const override {
    return VerifyReceived(ird_.GetReport(), loaded, out, err);
  }

 private:
  sim::InMemoryIrd ird_;
  const std::string port_ = sim::InMemoryIrd::kPortName;
};

}  // namespace

std::unique_ptr<OwnReceiver> StartMemoryReceiver(std::uint32_t baud) {
  sim::VirtualIrd::Options options;
  options.baud = baud;
  return std::make_unique<MemoryReceiver>(options);
}

}  // namespace irdload::cli
