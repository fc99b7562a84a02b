// The rules of the upgrade-file choice, shared by the dialog and the command line: which
// extensions count, how a bare name is completed and how the chosen names are shown.
#pragma once

#include <string>

namespace irdload {

/// The text after the last dot of the file's name (not its folder), without the dot; empty when
/// the name has no dot.
std::string FileExtension(const std::string& path);

/// `path` with ".uuc" appended when its file name has no extension, as the file dialog completes
/// a name typed without one.
std::string WithDefaultExtension(const std::string& path);

/// Field 1006's text: the single path alone, or "1: <first>,\n2: <second>" for a pair.
std::string ChosenFilesText(const std::string& first, const std::string& second);

}  // namespace irdload
