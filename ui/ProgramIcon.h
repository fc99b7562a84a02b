// The program's icon (32 x 32 and 16 x 16), from the resources linked into the program.
#pragma once

#include <QIcon>

namespace irdload::ui {

/// Both sizes, for window icons.
QIcon ProgramIcon();

/// The 32 x 32 picture's resource path, for the About box's icon control.
inline constexpr const char* kProgramIcon32 = ":/irdload/icons/irdload-32.png";
inline constexpr const char* kProgramIcon16 = ":/irdload/icons/irdload-16.png";

/// Registers the icon resources; a static library's resources are not registered on their own.
/// Harmless to repeat.
void RegisterProgramIcon();

}  // namespace irdload::ui
