#include "station/PortSpec.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "serial/PortName.h"

namespace irdload::station {
namespace {

bool Printable(const std::string& text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
  });
}

// Letters, digits, '-', '_' and '.': a label names records, traces and log lines.
bool IsLabel(const std::string& label) {
  return !label.empty() && std::all_of(label.begin(), label.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

}  // namespace

std::optional<PortSpec> ParsePortSpec(const std::string& text, std::string* error) {
  PortSpec spec;
  std::string where = text;
  if (!Printable(text)) {
    *error = "a port holds control characters";
    return std::nullopt;
  }
  // A path with '=' in it is written from the root ("/dev/x=y"): anything else before the first
  // '=' is a label, and one that is not a label is refused rather than taken as part of a path
  // that would never appear.
  const auto eq = text.find('=');
  if (eq != std::string::npos && text[0] != '/') {
    spec.label = text.substr(0, eq);
    where = text.substr(eq + 1);
    if (!IsLabel(spec.label)) {
      *error = "\"" + spec.label +
               "\": a label takes letters, digits, '-', '_' and '.' only (LABEL=PATH, such as "
               "bench-3=/dev/ttyUSB0)";
      return std::nullopt;
    }
  }
  // A relative path (with a '/') is taken from the current folder: links made for a test bench.
  if (!where.empty() && where[0] != '/' && where.find('/') != std::string::npos) {
    where = std::filesystem::absolute(where).lexically_normal().string();
  }
  spec.path = DevicePathForPortName(where);
  if (spec.path.empty()) {
    *error = "\"" + where +
             "\": give a device path such as /dev/ttyUSB0, /dev/serial/by-path/... or "
             "/dev/serial/by-id/..., or COM1..COM4";
    return std::nullopt;
  }
  if (spec.path.back() == '/') {
    *error = "\"" + where + "\" is a folder, not a device";
    return std::nullopt;
  }
  if (spec.label.empty()) spec.label = spec.path.substr(spec.path.rfind('/') + 1);
  return spec;
}

bool CheckDistinct(const std::vector<PortSpec>& ports, std::string* error) {
  std::set<std::string> labels, paths;
  for (const auto& p : ports) {
    if (!labels.insert(p.label).second) {
      *error = "the label \"" + p.label + "\" is given to two ports";
      return false;
    }
    if (!paths.insert(p.path).second) {
      *error = p.path + " is given twice: one device takes one worker";
      return false;
    }
  }
  return true;
}

}  // namespace irdload::station
