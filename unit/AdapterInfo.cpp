#include "unit/AdapterInfo.h"

#include <algorithm>
#include <filesystem>

namespace irdload::unit {
namespace {

namespace fs = std::filesystem;

fs::path Resolved(const fs::path& p) {
  std::error_code ec;
  fs::path r = fs::weakly_canonical(p, ec);
  return ec ? fs::path() : r;
}

// The first link in `folder` that leads to `device` (sorted, so the choice is stable).
std::string LinkTo(const fs::path& folder, const fs::path& device) {
  std::error_code ec;
  std::vector<fs::path> links;
  for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    links.push_back(it->path());
  }
  std::sort(links.begin(), links.end());
  for (const fs::path& link : links) {
    if (Resolved(link) == device) return link.string();
  }
  return {};
}

bool IsIn(const fs::path& path, const fs::path& folder) {
  return path.parent_path() == folder;
}

}  // namespace

AdapterRecord DescribeAdapter(const std::string& portPath, const InventoryRoots& roots) {
  AdapterRecord a;
  const fs::path device = Resolved(portPath);
  a.device = device.string();
  if (device.empty()) return a;
  const fs::path byPath = roots.dev / "serial" / "by-path";
  const fs::path byId = roots.dev / "serial" / "by-id";
  a.byPath = IsIn(portPath, byPath) ? portPath : LinkTo(byPath, device);
  a.byId = IsIn(portPath, byId) ? portPath : LinkTo(byId, device);
  for (const PortInfo& info : ListSerialPorts(roots)) {
    if (Resolved(info.device) != device) continue;
    a.vendorId = info.usbVendorId;
    a.productId = info.usbProductId;
    a.serial = info.serialNumber;
    a.manufacturer = info.manufacturer;
    a.product = info.product;
    a.driver = info.driver;
    break;
  }
  return a;
}

}  // namespace irdload::unit
