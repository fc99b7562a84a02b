// Pictures of the dialogs for people without a desktop: the main dialog idle and in the middle
// of a download through the virtual IRD, and the About box.
#pragma once

#include <QString>

namespace irdload::ui {

/// Writes main-idle.png, main-download.png and about.png into `folder` (created if missing).
/// Needs a running QApplication. Returns the process exit code: 0, or 1 with the reason on
/// standard error.
int WriteScreenshots(const QString& folder);

}  // namespace irdload::ui
