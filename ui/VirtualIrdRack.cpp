#include "ui/VirtualIrdRack.h"

#include <filesystem>
#include <system_error>

namespace irdload::ui {
namespace {

namespace fs = std::filesystem;

// Receivers already swapped out, kept for their reports.
constexpr std::size_t kKeptPerSocket = 3;

}  // namespace

std::string VirtualIrdRack::Link(int n) const {
  return (fs::path(folder_.path().toStdString()) / ("ird" + std::to_string(n))).string();
}

bool VirtualIrdRack::Resize(int count, std::string* error) {
  if (!folder_.isValid()) {
    *error = "no folder for the virtual IRDs' links: " + folder_.errorString().toStdString();
    return false;
  }
  while (static_cast<int>(sockets_.size()) > count) {
    std::error_code ec;
    fs::remove(Link(static_cast<int>(sockets_.size())), ec);
    sockets_.pop_back();
  }
  while (static_cast<int>(sockets_.size()) < count) {
    sockets_.emplace_back();
    if (!Plug(static_cast<int>(sockets_.size()), error)) {
      sockets_.pop_back();
      return false;
    }
  }
  return true;
}

bool VirtualIrdRack::Swap(int n, std::string* error) {
  if (n < 1 || n > count()) {
    *error = "no virtual IRD " + std::to_string(n);
    return false;
  }
  return Plug(n, error);
}

bool VirtualIrdRack::Plug(int n, std::string* error) {
  Socket& socket = sockets_[static_cast<std::size_t>(n - 1)];
  sim::VirtualIrd::Options o = options_;
  o.seed = options_.seed * 1000003u + static_cast<std::uint64_t>(n) * 1009u +
           static_cast<std::uint64_t>(socket.generations);
  auto ird = std::make_unique<sim::VirtualIrd>(o);
  if (!ird->Start(error)) return false;
  // A new link renamed over the old one: the name never leads nowhere on the way.
  const fs::path link = Link(n);
  const fs::path fresh = link.string() + ".new";
  std::error_code ec;
  fs::remove(fresh, ec);
  fs::create_symlink(ird->SlavePath(), fresh, ec);
  if (!ec) fs::rename(fresh, link, ec);
  if (ec) {
    *error = "cannot link " + link.string() + ": " + ec.message();
    return false;
  }
  // The receiver taken off: its line goes dead, as a cable pulled out.
  if (!socket.irds.empty()) socket.irds.back()->HangUp();
  socket.irds.push_back(std::move(ird));
  ++socket.generations;
  while (socket.irds.size() > kKeptPerSocket) socket.irds.pop_front();
  return true;
}

sim::Report VirtualIrdRack::Report(int n, int back) const {
  if (n < 1 || n > count()) return {};
  const auto& irds = sockets_[static_cast<std::size_t>(n - 1)].irds;
  if (back < 0 || static_cast<std::size_t>(back) >= irds.size()) return {};
  return irds[irds.size() - 1 - static_cast<std::size_t>(back)]->GetReport();
}

int VirtualIrdRack::generations(int n) const {
  if (n < 1 || n > count()) return 0;
  return sockets_[static_cast<std::size_t>(n - 1)].generations;
}

}  // namespace irdload::ui
