#include "cli/Doctor.h"

#include <cstdio>

#include "irdload/BuildInfo.h"

namespace irdload::cli {
namespace {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

int ExitCode(CheckStatus worst) {
  switch (worst) {
    case CheckStatus::Pass:
      return 0;
    case CheckStatus::Warn:
      return 1;
    case CheckStatus::Fail:
      return 2;
  }
  return 2;
}

struct Counts {
  int pass = 0, warn = 0, fail = 0;
};

Counts Count(const std::vector<CheckResult>& results) {
  Counts counts;
  for (const CheckResult& r : results) {
    (r.status == CheckStatus::Pass   ? counts.pass
     : r.status == CheckStatus::Warn ? counts.warn
                                     : counts.fail)++;
  }
  return counts;
}

void PrintJson(const std::vector<CheckResult>& results, int exitCode, std::ostream& out) {
  const Counts counts = Count(results);
  out << "{\"checks\":[";
  for (std::size_t i = 0; i < results.size(); ++i) {
    const CheckResult& r = results[i];
    out << (i ? "," : "") << "{\"check\":" << JsonString(r.check)
        << ",\"status\":" << JsonString(StatusName(r.status)) << ",\"port\":" << JsonString(r.port)
        << ",\"summary\":" << JsonString(r.summary) << ",\"fix\":" << JsonString(r.fix) << "}";
  }
  out << "],\"pass\":" << counts.pass << ",\"warn\":" << counts.warn << ",\"fail\":" << counts.fail
      << ",\"exit\":" << exitCode << "}\n";
}

void PrintText(const std::vector<CheckResult>& results, int exitCode, std::ostream& out) {
  std::string heading;
  for (std::size_t i = 0; i < results.size(); ++i) {
    const CheckResult& r = results[i];
    if (i == 0 || r.port != heading) out << (r.port.empty() ? "this machine" : r.port) << '\n';
    heading = r.port;
    std::string label = r.check;
    label.resize(14, ' ');
    out << "  " << StatusName(r.status) << "  " << label << r.summary << '\n';
    if (!r.fix.empty()) out << "        fix: " << r.fix << '\n';
  }
  const Counts counts = Count(results);
  out << "doctor: " << counts.pass << " pass, " << counts.warn << " warn, " << counts.fail
      << " fail (exit " << exitCode << ")\n";
}

}  // namespace

std::string InstalledUdevRuleTemplate() {
  return std::string(build::kExamplesDir) + "/60-irdload.rules";
}

int RunDoctor(const DoctorOptions& options, const CheckSetup& setup, std::ostream& out) {
  const auto results = RunPortChecks(options.port, setup);
  const int exitCode = ExitCode(WorstStatus(results));
  if (options.json) {
    PrintJson(results, exitCode, out);
  } else {
    PrintText(results, exitCode, out);
  }
  return exitCode;
}

}  // namespace irdload::cli
