// `irdload --headless-send FILE --port PATH`: the dialog sends FILE on PATH as if the operator
// had chosen them, with no one at the screen, and exits with the result. The benchmark uses it
// to measure the dialog program's cost on the offscreen platform.
#pragma once

#include <QString>

namespace irdload::ui {

/// 0 after "Download end successfully.", 1 otherwise.
int RunHeadlessSend(const QString& file, const QString& port);

}  // namespace irdload::ui
