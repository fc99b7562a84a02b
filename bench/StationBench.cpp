#include "bench/StationBench.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "bench/ChildProcess.h"
#include "bench/DashboardWatch.h"
#include "bench/EngineRun.h"
#include "bench/Stats.h"
#include "floor/Dashboard.h"

namespace irdload::bench {
namespace {

using namespace std::chrono_literals;

constexpr double kEfficiencyGoal = 0.99;
constexpr double kCpuPerPortGoal = 0.005;  // of one core
constexpr double kMemoryHeadroomBytes = 16.0 * 1024 * 1024;

struct Run {
  bool ok = false;
  std::string error;
  std::vector<double> efficiency;  // per port, from the IRDs' own line times
  std::chrono::nanoseconds cpu{0};
  std::chrono::nanoseconds wall{0};
  std::uint64_t peakBytes = 0;        // the station's, or the sends' added up
  std::vector<double> pageLatencyMs;  // with the dashboard: each unit's end to the page
  std::size_t pageStates = 0;         // states the page read
  bool withBroker = false;            // the dashboard's run published to a broker too
};

// The virtual IRDs' process: started with its links, fed commands, read back.
class Farm {
 public:
  bool Start(const std::string& cli, const std::filesystem::path& folder, int count,
             std::string* error) {
    links_ = folder / "links";
    logPath_ = (folder / "farm.log").string();
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return false;
    const int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ChildProcess::Command c;
    c.program = cli;
    c.args = {"virtual-ird",   "--count", std::to_string(count),     "--links",
              links_.string(), "--baud",  std::to_string(kLineBaud), "--timing"};
    c.stdinFd = in[0];
    c.stdoutFd = log;
    const bool started = child_.Start(c, error);
    ::close(in[0]);
    if (log >= 0) ::close(log);
    input_ = in[1];
    return started && WaitFor("ready", error);
  }
  ~Farm() {
    if (input_ >= 0) ::close(input_);
  }
  std::string Link(int n) const { return (links_ / ("ird" + std::to_string(n))).string(); }

  // Each IRD's line time, from its first connect request to its terminate answer.
  bool LineTimes(std::vector<std::chrono::nanoseconds>& out, std::string* error) {
    // The farm reports every IRD as it ends.
    const std::string cmd = "quit\n";
    if (::write(input_, cmd.data(), cmd.size()) != static_cast<ssize_t>(cmd.size())) return false;
    ::close(input_);
    input_ = -1;
    if (!child_.Wait(30s)) {
      child_.Terminate();
      *error = "the virtual IRDs did not end";
      return false;
    }
    std::ifstream log(logPath_);
    for (std::string line; std::getline(log, line);) {
      if (line == "end-of-report") break;
      if (line.rfind("ird ", 0) != 0) continue;
      const auto at = line.find("lineNs=");
      const auto loaded = line.find("loaded=1");
      if (at == std::string::npos || loaded == std::string::npos) {
        *error = "a receiver was not loaded: " + line;
        return false;
      }
      out.emplace_back(std::stoll(line.substr(at + 7)));
    }
    return !out.empty();
  }

 private:
  bool WaitFor(const std::string& word, std::string* error) {
    for (int i = 0; i < 400; ++i) {
      std::ifstream log(logPath_);
      for (std::string line; std::getline(log, line);) {
        if (line == word) return true;
      }
      std::this_thread::sleep_for(25ms);
    }
    *error = "the virtual IRDs did not start";
    return false;
  }

  std::filesystem::path links_;
  std::string logPath_;
  ChildProcess child_;
  int input_ = -1;
};

// The first unit that did not load, from the station's JSON lines, for a broken row: ": P7
// failed (answers-not-heard)".
std::string FirstFailure(const std::filesystem::path& log) {
  std::ifstream in(log);
  const auto field = [](const std::string& line, const std::string& key) {
    const std::string quoted = "\"" + key + "\":\"";
    const auto at = line.find(quoted);
    if (at == std::string::npos) return std::string();
    const auto from = at + quoted.size();
    return line.substr(from, line.find('"', from) - from);
  };
  for (std::string line; std::getline(in, line);) {
    if (line.find("\"event\":\"end\"") == std::string::npos ||
        line.find("\"loaded\":false") == std::string::npos) {
      continue;
    }
    return ": " + field(line, "port") + " " + field(line, "outcome") + " (" +
           field(line, "reason") + ")";
  }
  return {};
}

// The station, or one send per port, against `ports` receivers.
Run Measure(BenchContext& context, const std::string& cli, const std::string& image,
            std::size_t bytes, int ports, bool separateSends, bool dashboard = false) {
  Run run;
  const std::string name = (separateSends ? "sends-"
                            : dashboard   ? "dashboard-"
                                          : "station-") +
                           std::to_string(ports);
  const std::filesystem::path folder = context.workspace().MakeFolder(name, &run.error);
  if (folder.empty()) return run;
  Farm farm;
  if (!farm.Start(cli, folder, ports, &run.error)) return run;
  const auto bound = std::chrono::duration_cast<std::chrono::milliseconds>(
      TransferBound(ProtocolLimit(bytes, kLineBaud)));
  // With the dashboard, the floor's broker too when the machine has one: a mosquitto of the
  // run's own on a free loopback port, taking every event and record.
  std::unique_ptr<ChildProcess> broker;
  int brokerPort = 0;
  if (dashboard && ::access("/usr/sbin/mosquitto", X_OK) == 0) {
    brokerPort = 20000 + ::getpid() % 20000;
    std::ofstream(folder / "mosquitto.conf")
        << "user " << ::getpwuid(::getuid())->pw_name << "\nlistener " << brokerPort
        << " 127.0.0.1\nallow_anonymous true\n";
    ChildProcess::Command c;
    c.program = "/usr/sbin/mosquitto";
    c.args = {"-c", (folder / "mosquitto.conf").string()};
    broker = std::make_unique<ChildProcess>();
    if (!broker->Start(c, &run.error)) return run;
    std::this_thread::sleep_for(500ms);
  }
  std::vector<std::unique_ptr<ChildProcess>> children;
  const int log =
      ::open((folder / "run.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const auto start = [&](std::vector<std::string> args) {
    ChildProcess::Command c;
    c.program = cli;
    c.args = std::move(args);
    c.stdoutFd = log;
    c.stderrFd = log;
    children.push_back(std::make_unique<ChildProcess>());
    return children.back()->Start(c, &run.error);
  };
  bool started = true;
  if (separateSends) {
    for (int i = 1; i <= ports && started; ++i)
      started = start({"send", "--port", farm.Link(i), image});
  } else {
    std::vector<std::string> args = {"station", "--units", "1", "--next-unit", "replug", "--json"};
    if (dashboard) {
      args.insert(args.end(), {"--http", "127.0.0.1:0"});
      if (broker) {
        args.insert(args.end(), {"--mqtt", "mqtt://127.0.0.1:" + std::to_string(brokerPort),
                                 "--report", (folder / "report").string()});
      }
    }
    for (int i = 1; i <= ports; ++i)
      args.insert(args.end(), {"--port", "P" + std::to_string(i) + "=" + farm.Link(i)});
    args.push_back(image);
    started = start(args);
  }
  if (log >= 0) ::close(log);
  if (!started) return run;
  // A page kept open on the dashboard through the whole load, as a supervisor's would be.
  std::unique_ptr<DashboardWatch> page;
  if (dashboard) page = std::make_unique<DashboardWatch>(folder / "run.log");
  const auto t0 = std::chrono::steady_clock::now();
  // In turns of a short wait each, so that every child's peak memory is sampled while it runs.
  for (std::size_t left = children.size(); left > 0;) {
    if (std::chrono::steady_clock::now() - t0 > bound) {
      run.error = "the load did not end in time";
      return run;
    }
    for (auto& child : children) {
      if (!child->running()) continue;
      const std::optional<ChildExit> exit =
          child->Wait(50ms / static_cast<int>(children.size()) + 1ms);
      if (!exit) continue;
      --left;
      if (!exit->Succeeded()) {
        run.error = "the load ended with " + exit->Describe() + FirstFailure(folder / "run.log");
        return run;
      }
      run.cpu += exit->CpuTime();
      run.peakBytes += exit->peakResidentBytes;
    }
  }
  run.wall = std::chrono::steady_clock::now() - t0;
  if (page) {
    run.pageLatencyMs = page->Finish(&run.pageStates, &run.error);
    if (!run.error.empty()) return run;
    if (run.pageLatencyMs.size() != static_cast<std::size_t>(ports)) {
      run.error = "the page saw " + std::to_string(run.pageLatencyMs.size()) + " of " +
                  std::to_string(ports) + " units";
      return run;
    }
  }
  std::vector<std::chrono::nanoseconds> lineTimes;
  if (!farm.LineTimes(lineTimes, &run.error)) return run;
  for (const auto t : lineTimes) {
    run.efficiency.push_back(static_cast<double>(ProtocolLimit(bytes, kLineBaud).count()) /
                             static_cast<double>(t.count()));
  }
  run.withBroker = broker != nullptr;
  run.ok = true;
  return run;
}

// The station with its dashboard serving one open page: its CPU per port, and how long a
// unit's end takes to reach the page.
void AddDashboardRows(const Run& run, int ports, std::size_t bytes, std::vector<Row>& rows) {
  const std::string inputs =
      std::string(run.withBroker ? "station --http --mqtt (a local mosquitto) --report, "
                                 : "station --http (no mosquitto here), ") +
      "one page reading the event stream, " + std::to_string(ports) + " ports at 115200, " +
      SizeName(bytes) + " each, virtual IRDs in their own process";
  Row cpu{"Station with its dashboard and MQTT: CPU per port", inputs, "",
          "< 0.5% of one core per port", "—"};
  Row latency{
      "Dashboard: a unit's end to the page", inputs, "",
      "reported (the page's tick is " + std::to_string(floor::Dashboard::kTick.count()) + " ms)",
      "—"};
  if (!run.ok) {
    for (Row* r : {&cpu, &latency}) {
      r->value = "broken: " + run.error;
      rows.push_back(*r);
    }
    return;
  }
  const double wall = std::chrono::duration<double>(run.wall).count();
  const double share = std::chrono::duration<double>(run.cpu).count() / wall / ports;
  cpu.inputs += "; " + Duration(run.cpu) + " CPU over " + Duration(run.wall) + " wall; " +
                std::to_string(run.pageStates) + " states read by the page";
  cpu.value = Fixed(share * 100, 3) + "% of one core";
  cpu.ratio = RatioToGoal(share, kCpuPerPortGoal, GoalKind::Under);
  std::vector<double> ms = run.pageLatencyMs;
  std::sort(ms.begin(), ms.end());
  latency.inputs += "; " + std::to_string(ms.size()) + " units, from the end event's time to " +
                    "the first state that lists the unit, received";
  latency.value = "median " + Fixed(Median(ms), 0) + " ms, worst " + Fixed(ms.back(), 0) + " ms";
  rows.push_back(cpu);
  rows.push_back(latency);
}

void AddRows(const Run& run, const std::string& who, int ports, std::size_t bytes,
             std::vector<Row>& rows) {
  const std::string inputs = who + ", " + std::to_string(ports) + " port" + (ports > 1 ? "s" : "") +
                             " at 115200, " + SizeName(bytes) +
                             " each, virtual IRDs in their own process";
  const std::string figure = who == "station" ? "Station" : "Separate sends";
  Row eff{figure + ": worst port's line efficiency", inputs, "", "≥ 0.99 of the protocol limit",
          "—"};
  Row cpu{figure + ": CPU per port", inputs, "", "< 0.5% of one core per port", "—"};
  Row mem{figure + ": peak resident memory", inputs, "", "", "—"};
  const double images = static_cast<double>(bytes) * ports;
  mem.goal = "< images + 16 MiB = " + MiB(images + kMemoryHeadroomBytes);
  if (!run.ok) {
    for (Row* r : {&eff, &cpu, &mem}) {
      r->value = "broken: " + run.error;
      rows.push_back(*r);
    }
    return;
  }
  const double worst = *std::min_element(run.efficiency.begin(), run.efficiency.end());
  const double best = *std::max_element(run.efficiency.begin(), run.efficiency.end());
  eff.inputs += "; range " + Fixed(worst, 4) + "–" + Fixed(best, 4) + " over " +
                std::to_string(run.efficiency.size()) + " ports";
  eff.value = Fixed(worst, 4);
  eff.ratio = RatioToGoal(worst, kEfficiencyGoal, GoalKind::AtLeast);
  const double wall = std::chrono::duration<double>(run.wall).count();
  const double share = std::chrono::duration<double>(run.cpu).count() / wall / ports;
  cpu.inputs += "; " + Duration(run.cpu) + " CPU over " + Duration(run.wall) + " wall";
  cpu.value = Fixed(share * 100, 3) + "% of one core";
  cpu.ratio = RatioToGoal(share, kCpuPerPortGoal, GoalKind::Under);
  mem.inputs +=
      who == "station" ? "; VmHWM sampled every 50 ms" : "; the processes' VmHWM added up";
  mem.value = MiB(static_cast<double>(run.peakBytes));
  mem.ratio = RatioToGoal(static_cast<double>(run.peakBytes), images + kMemoryHeadroomBytes,
                          GoalKind::Under);
  rows.push_back(eff);
  rows.push_back(cpu);
  rows.push_back(mem);
}

Run Broken(const std::string& error) {
  Run run;
  run.error = error;
  return run;
}

}  // namespace

void MeasureStation(BenchContext& context, std::vector<Row>& rows) {
  const std::string cli = (context.binaryDir().parent_path() / "cli" / "irdload-cli").string();
  const std::size_t bytes = context.quick() ? 32 * 1024 : 256 * 1024;
  const std::vector<int> counts =
      context.quick() ? std::vector<int>{1, 4} : std::vector<int>{1, 4, 8, 16, 32, 64};
  std::string error;
  const std::string image = context.ImagePath(bytes, &error);
  for (int ports : counts) {
    context.Progress("Station, " + std::to_string(ports) + " ports, " + SizeName(bytes));
    const Run run =
        image.empty() ? Broken(error) : Measure(context, cli, image, bytes, ports, false);
    if (!run.ok) context.MarkBroken();
    AddRows(run, "station", ports, bytes, rows);
  }
  // The same station with its dashboard on and a page open.
  const int served = std::min(counts.back(), 16);
  context.Progress("Station with its dashboard, " + std::to_string(served) + " ports, " +
                   SizeName(bytes));
  const Run page =
      image.empty() ? Broken(error) : Measure(context, cli, image, bytes, served, false, true);
  if (!page.ok) context.MarkBroken();
  AddDashboardRows(page, served, bytes, rows);
  // The way people glue loaders together today, compared at 16 ports: 64 processes of their own
  // would measure the machine more than the loader.
  const int sends = std::min(counts.back(), 16);
  context.Progress("Separate sends, " + std::to_string(sends) + " ports, " + SizeName(bytes));
  const Run run = image.empty() ? Broken(error) : Measure(context, cli, image, bytes, sends, true);
  if (!run.ok) context.MarkBroken();
  AddRows(run, std::to_string(sends) + " separate irdload-cli send processes", sends, bytes, rows);
}

}  // namespace irdload::bench
