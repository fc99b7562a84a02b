// irdload: loads a firmware upgrade into a satellite receiver over a serial line.
#include <QStringList>

#include "ui/DownloaderApp.h"
#include "ui/HeadlessSend.h"
#include "ui/Screenshots.h"

int main(int argc, char** argv) {
  irdload::ui::DownloaderApp app(argc, argv);
  // Two options for running without a desktop (pictures, the benchmark); the operator's program
  // reads no other arguments.
  const QStringList arguments = app.arguments();
  const qsizetype at = arguments.indexOf(QStringLiteral("--screenshots"));
  if (at > 0 && at + 1 < arguments.size()) return irdload::ui::WriteScreenshots(arguments[at + 1]);
  const qsizetype send = arguments.indexOf(QStringLiteral("--headless-send"));
  const qsizetype port = arguments.indexOf(QStringLiteral("--port"));
  if (send > 0 && send + 1 < arguments.size() && port > 0 && port + 1 < arguments.size()) {
    return irdload::ui::RunHeadlessSend(arguments[send + 1], arguments[port + 1]);
  }
  app.InitInstance();
  return 0;
}
