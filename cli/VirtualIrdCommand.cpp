// irdload-cli virtual-ird: virtual IRDs on pseudo-terminals in a process of their own, for
// trying the station without receivers, and for tests and benchmarks that must keep the IRDs'
// costs apart from the station's. Each socket's IRD is reached through a link in a folder that
// stands for /dev/serial/by-path; commands on standard input plug, unplug and swap them.
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/FaultText.h"
#include "cli/SignalFd.h"
#include "engine/Link.h"
#include "engine/Sha256.h"
#include "sim/LineClock.h"
#include "sim/VirtualIrd.h"

namespace irdload::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHelp =
    "commands, one a line:\n"
    "  plug N [FAULT...]    a new IRD on socket N (the link appears, or now leads to it)\n"
    "  unplug N             the adapter goes: the link vanishes and the line hangs up\n"
    "  swap N [FAULT...]    unplug N, then plug a new IRD in\n"
    "  report               one line per IRD: what it received\n"
    "  quit                 (or end of input, or Ctrl-C)\n";

struct Socket {
  std::vector<std::unique_ptr<sim::VirtualIrd>> irds;  // every IRD it had, the current last
  bool plugged = false;
};

class Farm {
 public:
  Farm(const VirtualIrdOptions& options, std::ostream& out, std::ostream& err)
      : options_(options), out_(out), err_(err) {}
  ~Farm() {
    for (auto& [n, s] : sockets_) {
      if (s.plugged && !options_.linkDir.empty()) fs::remove(LinkPath(n));
    }
  }

  bool Plug(int n, const std::vector<std::string>& faultTexts, std::string* error) {
    sim::VirtualIrd::Options o;
    o.baud = options_.baud;
    o.recordTiming = options_.timing;
    o.repeatAfter = std::chrono::milliseconds{options_.repeatAfterMs};
    o.holdTick = std::chrono::milliseconds{options_.holdMs};
    std::vector<std::string> all = options_.faults;
    all.insert(all.end(), faultTexts.begin(), faultTexts.end());
    for (const auto& text : all) {
      sim::Fault f{};
      if (!ParseFault(text, f)) {
        *error = "unknown fault \"" + text + "\"";
        return false;
      }
      o.faults.push_back(f);
    }
    Socket& s = sockets_[n];
    o.seed = options_.seed * 1000003u + static_cast<std::uint64_t>(n) * 1009u + s.irds.size();
    auto ird = std::make_unique<sim::VirtualIrd>(o);
    if (!ird->Start(error)) return false;
    const std::string slave = ird->SlavePath();
    if (!options_.linkDir.empty()) {
      // A new link renamed over the old one: the name never leads nowhere on the way.
      const fs::path tmp = fs::path(options_.linkDir) / (".ird" + std::to_string(n) + ".new");
      std::error_code ec;
      fs::remove(tmp, ec);
      fs::create_symlink(slave, tmp, ec);
      if (!ec) fs::rename(tmp, LinkPath(n), ec);
      if (ec) {
        *error = "cannot link " + LinkPath(n) + ": " + ec.message();
        return false;
      }
    }
    s.irds.push_back(std::move(ird));
    s.plugged = true;
    out_ << "plugged " << n << ' ' << s.irds.size() << ' '
         << (options_.linkDir.empty() ? slave : LinkPath(n)) << ' ' << slave << std::endl;
    return true;
  }

  void Unplug(int n) {
    auto it = sockets_.find(n);
    if (it == sockets_.end() || !it->second.plugged) return;
    if (!options_.linkDir.empty()) fs::remove(LinkPath(n));
    it->second.irds.back()->HangUp();
    it->second.plugged = false;
    out_ << "unplugged " << n << ' ' << it->second.irds.size() << std::endl;
  }

  void Report() {
    for (const auto& [n, s] : sockets_) {
      for (std::size_t k = 0; k < s.irds.size(); ++k) {
        const sim::Report r = s.irds[k]->GetReport();
        std::string shas, ok, answered;
        for (const auto& f : r.files) {
          Sha256 sha;
          sha.Update(f.header.data(), f.header.size());
          sha.Update(f.payload.data(), f.payload.size());
          shas += (shas.empty() ? "" : ",") + ToHex(sha.Final());
          // Loaded: the IRD holds the whole file and sent its success terminate request.
          ok += (ok.empty() ? "" : ",") + std::string(f.successTerminate ? "1" : "0");
          answered += (answered.empty() ? "" : ",") + std::string(f.terminated ? "1" : "0");
        }
        const long long lineNs = LineNs(r.timing);
        out_ << "ird " << n << ' ' << k + 1 << " slave=" << s.irds[k]->SlavePath()
             << " files=" << r.files.size() << " loaded=" << (ok.empty() ? "-" : ok)
             << " answered=" << (answered.empty() ? "-" : answered)
             << " sha256=" << (shas.empty() ? "-" : shas) << " lineGone=" << r.lineGone
             << " lineNs=" << lineNs << '\n';
      }
    }
    out_ << "end-of-report" << std::endl;
  }

  // From the first connect request to the terminate answer's end; 0 when unknown. A PC that
  // purges its port as it closes may discard its terminate answer before the IRD reads it:
  // then the line's end is the success terminate request's end and one byte more.
  long long LineNs(const sim::LineTiming& t) const {
    if (t.firstConnectRequestAt.count() == 0) return 0;
    if (t.lastTerminateAnswerAt.count() > 0) {
      return (t.lastTerminateAnswerAt - t.firstConnectRequestAt).count();
    }
    for (auto it = t.replies.rbegin(); it != t.replies.rend(); ++it) {
      if (it->byte == CMD_TERMINATE_OK) {
        return (it->writtenAt + sim::ByteLineTime(options_.baud) - t.firstConnectRequestAt).count();
      }
    }
    return 0;
  }

  // One command line; false for quit.
  bool Command(const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    if (!(words >> verb)) return true;
    if (verb == "quit") return false;
    if (verb == "report") {
      Report();
      return true;
    }
    int n = 0;
    std::vector<std::string> faults;
    if (!(words >> n) || n < 1 || n > 999) {
      Complain(err_, "\"" + line + "\": give a socket number from 1 to 999", kHelp);
      return true;
    }
    for (std::string f; words >> f;) faults.push_back(f);
    if (verb != "plug" && verb != "swap" && verb != "unplug") {
      Complain(err_, "unknown command \"" + verb + "\"", kHelp);
      return true;
    }
    if (verb != "plug") Unplug(n);
    std::string error;
    if (verb != "unplug" && !Plug(n, faults, &error)) Complain(err_, error);
    return true;
  }

 private:
  std::string LinkPath(int n) const {
    return (fs::path(options_.linkDir) / ("ird" + std::to_string(n))).string();
  }

  const VirtualIrdOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  std::map<int, Socket> sockets_;
};

}  // namespace

int RunVirtualIrd(const VirtualIrdOptions& options, std::ostream& out, std::ostream& err) {
  if (!options.linkDir.empty()) {
    std::error_code ec;
    fs::create_directories(options.linkDir, ec);
    if (ec) {
      Complain(err, "cannot make " + options.linkDir, ec.message());
      return EXIT_REFUSED;
    }
  }
  SignalFd signals(options.handleSignals);
  Farm farm(options, out, err);
  for (int n = 1; n <= options.count; ++n) {
    std::string error;
    if (!farm.Plug(n, {}, &error)) {
      Complain(err, "the virtual IRD did not start", error);
      return EXIT_INTERNAL;
    }
  }
  out << "ready" << std::endl;
  err << kHelp;
  std::string pending;
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {signals.fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (signals.Take() > 0) break;
    if ((fds[0].revents & (POLLIN | POLLHUP)) == 0) continue;
    char buf[4096];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) break;
    pending.append(buf, static_cast<std::size_t>(n));
    bool quit = false;
    for (std::size_t nl; !quit && (nl = pending.find('\n')) != std::string::npos;) {
      quit = !farm.Command(pending.substr(0, nl));
      pending.erase(0, nl + 1);
    }
    if (quit) break;
  }
  farm.Report();
  return EXIT_OK;
}

}  // namespace irdload::cli
