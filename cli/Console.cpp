#include "cli/Console.h"

#include "engine/FileChoice.h"

namespace irdload::cli {

void Complain(std::ostream& err, const std::string& text, const std::string& detail) {
  err << "irdload-cli: " << Printable(text) << '\n';
  if (!detail.empty()) err << "  " << Printable(detail) << '\n';
}

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

std::string ChosenExtension(const std::string& path) {
  return FileExtension(WithDefaultExtension(path));
}

}  // namespace irdload::cli
