#include "engine/FileChoice.h"

namespace irdload {
namespace {

std::string::size_type NameStart(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

std::string FileExtension(const std::string& path) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || dot < NameStart(path)) return {};
  return path.substr(dot + 1);
}

std::string WithDefaultExtension(const std::string& path) {
  const auto dot = path.rfind('.');
  const bool hasDot = dot != std::string::npos && dot >= NameStart(path);
  if (hasDot || NameStart(path) == path.size()) return path;
  return path + ".uuc";
}

std::string ChosenFilesText(const std::string& first, const std::string& second) {
  if (second.empty()) return first;
  return "1: " + first + ",\n2: " + second;
}

}  // namespace irdload
