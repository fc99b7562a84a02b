// irdload-bench: measures the downloader against the protocol's limit, its own goals and a
// peer, and prints the results as one markdown table.
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "bench/BenchContext.h"
#include "bench/Efficiency.h"
#include "bench/Experiments.h"
#include "bench/Peer.h"
#include "bench/PtyDelivery.h"
#include "bench/StationBench.h"
#include "bench/Table.h"
#include "bench/WineEfficiency.h"
#include "bench/Workspace.h"

namespace {

using irdload::bench::Row;

constexpr const char* kUsage =
    "usage: irdload-bench [--quick] [--only station|latency|windows BUILD] [--results FILE]\n"
    "  --quick           64 KiB only and fewer repetitions (a few minutes)\n"
    "  --only station    only the station figure (many ports at once)\n"
    "  --only latency    only what a USB adapter's latency timer costs\n"
    "  --only windows BUILD  only irdload-cli.exe under wine beside the Linux build (BUILD: the\n"
    "                    cross build's folder, e.g. build/windows/exe)\n"
    "  --results FILE    also write the table, the date and the core count to FILE\n"
    "Prints the benchmark table (markdown) on standard output. Exits 0 unless a measurement\n"
    "broke; a missed goal is reported in the table, not in the exit status.\n";

struct Arguments {
  bool help = false;
  bool quick = false;
  std::string only;          // "station", "latency", "windows", or empty for every figure
  std::string windowsBuild;  // with --only windows
  std::string resultsPath;
};

bool Parse(int argc, char** argv, Arguments& out) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      out.help = true;
    } else if (arg == "--quick") {
      out.quick = true;
    } else if (arg == "--only" && i + 2 < argc && std::string(argv[i + 1]) == "windows") {
      out.only = "windows";
      out.windowsBuild = argv[i + 2];
      i += 2;
    } else if (arg == "--only" && i + 1 < argc &&
               (std::string(argv[i + 1]) == "station" || std::string(argv[i + 1]) == "latency")) {
      out.only = argv[++i];
    } else if (arg == "--results" && i + 1 < argc) {
      out.resultsPath = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M %Z", &local);
  return buf;
}

bool WriteResults(const std::string& path, const std::string& table, bool quick,
                  const std::string& loadBefore, std::string* error) {
  std::ofstream out(path, std::ios::trunc);
  out << "# irdload benchmark results\n\n"
      << "Latest " << (quick ? "quick" : "full") << " run of `irdload-bench"
      << (quick ? " --quick" : "") << "` (the program `./run bench` runs): " << Today() << ", "
      << sysconf(_SC_NPROCESSORS_ONLN) << " cores (nproc), " << loadBefore
      << " (one-minute average) at the start; each figure gives the load around it.\n\n"
      << "Ratio to goal is value / goal: at least 1 meets an \"at least\" goal, below 1 meets an "
         "\"under\" goal. Line times are 10 bit times a byte at 115200 baud. Medians are the "
         "middle run, or the mean of the middle two. An answer time is seen from the virtual IRD: "
         "from its write of a reply byte to its read of the PC's answer, so it includes the "
         "pseudo-terminal's delivery both ways; a wake is from the IRD's write to the PC "
         "worker's read of that byte.\n\n"
      << table;
  out.close();
  if (!out) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  if (!Parse(argc, argv, args)) {
    std::cerr << kUsage;
    return 2;
  }
  if (args.help) {
    std::cout << kUsage;
    return 0;
  }
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    std::cerr << "irdload-bench: cannot find its own path: " << ec.message() << '\n';
    return 1;
  }
  irdload::bench::Workspace workspace;
  std::string error;
  if (!workspace.Create(&error)) {
    std::cerr << "irdload-bench: " << error << '\n';
    return 1;
  }
  const std::string loadBefore = irdload::bench::LoadNow();
  irdload::bench::BenchContext context(args.quick, self.parent_path(), workspace);

  std::vector<Row> rows;
  if (args.only == "windows") {
    irdload::bench::MeasureWineEfficiency(context, args.windowsBuild, rows);
    const std::string table = irdload::bench::RenderTable(rows);
    std::cout << table << std::flush;
    return context.broken() ? 1 : 0;
  }
  if (args.only.empty()) {
    const auto ours = irdload::bench::MeasureCliEfficiency(context, rows);
    irdload::bench::MeasurePeer(context, ours, rows);
    irdload::bench::MeasureDialogCost(context, rows);
    irdload::bench::MeasureWaitExperiments(context, rows);
    irdload::bench::MeasurePtyDelivery(context, rows);
  }
  if (args.only.empty() || args.only == "latency") {
    irdload::bench::MeasureAdapterLatency(context, rows);
  }
  if (args.only.empty() || args.only == "station") irdload::bench::MeasureStation(context, rows);

  const std::string table = irdload::bench::RenderTable(rows);
  std::cout << table << std::flush;
  if (!args.resultsPath.empty() &&
      !WriteResults(args.resultsPath, table, args.quick, loadBefore, &error)) {
    std::cerr << "irdload-bench: " << error << '\n';
    return 1;
  }
  return context.broken() ? 1 : 0;
}
