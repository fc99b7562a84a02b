// Virtual IRDs for the station window: one per socket, each reached through a link in a folder of
// its own (as /dev/serial/by-path names a physical socket), so that the station sees them as
// adapters. Swapping a socket's IRD puts the next receiver on: a new IRD on a new line, the link
// renamed over the old one, which the station takes as a replug.
#pragma once

#include <QTemporaryDir>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim/VirtualIrd.h"

namespace irdload::ui {

class VirtualIrdRack {
 public:
  explicit VirtualIrdRack(sim::VirtualIrd::Options options) : options_(std::move(options)) {}

  /// Grows or shrinks the rack to `count` sockets (the highest go first). False with the reason
  /// when an IRD or its link could not be made; the sockets made so far stay.
  bool Resize(int count, std::string* error);
  int count() const { return static_cast<int>(sockets_.size()); }
  /// The link of socket `n` (1-based).
  std::string Link(int n) const;
  /// The next receiver on socket `n`: a new IRD behind the link.
  bool Swap(int n, std::string* error);
  /// What the IRD now on socket `n` has received; with `back` > 0, the one that many swaps ago
  /// (the rack keeps a few).
  sim::Report Report(int n, int back = 0) const;
  /// How many IRDs socket `n` has had.
  int generations(int n) const;

 private:
  struct Socket {
    std::deque<std::unique_ptr<sim::VirtualIrd>> irds;  // the current last
    int generations = 0;
  };
  bool Plug(int n, std::string* error);

  const sim::VirtualIrd::Options options_;
  QTemporaryDir folder_;
  std::deque<Socket> sockets_;  // never relocated: a deque of IRDs does not move cheaply
};

}  // namespace irdload::ui
