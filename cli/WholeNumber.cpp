#include "cli/WholeNumber.h"

#include <charconv>
#include <string>

#include "cli/Console.h"

namespace irdload::cli {

CLI::Validator WholeNumber(long long min, long long max) {
  const std::string range = "from " + std::to_string(min) + " to " + std::to_string(max);
  return CLI::Validator(
      [min, max, range](std::string& input) -> std::string {
        long long value = 0;
        const char* end = input.data() + input.size();
        const auto [at, ec] = std::from_chars(input.data(), end, value);
        if (input.empty() || ec != std::errc() || at != end || value < min || value > max) {
          // A long input is cut: the message names the range, not the typing.
          const std::string shown = input.size() > 24 ? input.substr(0, 24) + "..." : input;
          return "\"" + Printable(shown) + "\" is not a whole number " + range;
        }
        return {};
      },
      "a whole number " + range);
}

}  // namespace irdload::cli
