// Whole-number options with their range in words: "--units: \"0\" is not a whole number from 1
// to 1000000", never a range of doubles written out in 300 digits.
#pragma once

#include <CLI/CLI.hpp>

namespace irdload::cli {

CLI::Validator WholeNumber(long long min, long long max);

}  // namespace irdload::cli
