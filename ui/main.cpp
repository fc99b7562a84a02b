// irdload: loads a firmware upgrade into a satellite receiver over a serial line.
#include <QFile>
#include <QStringList>

#include "ui/DownloaderApp.h"
#include "ui/HeadlessSend.h"
#include "ui/Screenshots.h"
#include "ui/StationWindow.h"

int main(int argc, char** argv) {
  irdload::ui::DownloaderApp app(argc, argv);
  // Two options for running without a desktop (pictures, the benchmark), and the station window
  // on its own.
  const QStringList arguments = app.arguments();
  if (const qsizetype at = arguments.indexOf(QStringLiteral("--station")); at > 0) {
    // irdload --station [FILE [SECOND]]: the upgrade may be given, as a launcher would.
    irdload::ui::StationWindow::Options options;
    for (qsizetype i = at + 1; i < arguments.size() && options.files.size() < 2; ++i) {
      options.files.push_back(QFile::encodeName(arguments[i]).toStdString());
    }
    irdload::ui::StationWindow station(std::move(options));
    station.show();
    return app.exec();
  }
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
