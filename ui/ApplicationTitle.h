// The title that captions every message box: the program file's name without folder and
// extension.
#pragma once

#include <QString>

namespace irdload::ui {

/// "loader" for "/opt/tools/loader.exe": the name without its folder and its last extension.
QString ApplicationTitleFor(const QString& programPath);

/// The running program's title; needs a QCoreApplication.
QString ApplicationTitle();

}  // namespace irdload::ui
