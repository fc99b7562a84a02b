#include "ui/Screenshots.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTextStream>
#include <chrono>
#include <functional>

#include "dialog/PortChoices.h"
#include "engine/Image.h"
#include "engine/ImageWriter.h"
#include "ui/AboutDialog.h"
#include "ui/HeadlessPrompts.h"
#include "ui/MainDialog.h"
#include "ui/StationTile.h"
#include "ui/StationWindow.h"

namespace irdload::ui {
namespace {

using namespace std::chrono_literals;

// Lets the event loop run until `done` holds or `bound` has passed.
bool RunEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
  const QDeadlineTimer deadline(bound);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

bool Save(QWidget& widget, const QDir& folder, const QString& name, QTextStream& err) {
  RunEventsUntil([] { return false; }, 100ms);  // let the window system lay out and paint
  const QString path = folder.filePath(name);
  if (widget.grab().save(path)) return true;
  err << "cannot write " << path << Qt::endl;
  return false;
}

}  // namespace

int WriteScreenshots(const QString& folderPath) {
  QTextStream err(stderr);
  const QDir folder(folderPath);
  if (!QDir().mkpath(folder.absolutePath())) {
    err << "cannot create " << folder.absolutePath() << Qt::endl;
    return 1;
  }
  QTemporaryDir sampleDir;
  if (!sampleDir.isValid()) {
    err << "cannot create a temporary folder: " << sampleDir.errorString() << Qt::endl;
    return 1;
  }
  // Large enough that the paced virtual IRD is still busy when the picture is taken.
  const std::vector<std::uint8_t> image = ComposeImage(kTypeSingle, PatternPayload(96 * 1024));
  const QString samplePath = sampleDir.filePath(QStringLiteral("sample.uuc"));
  QFile sample(samplePath);
  if (!sample.open(QIODevice::WriteOnly) ||
      sample.write(reinterpret_cast<const char*>(image.data()),
                   static_cast<qint64>(image.size())) != static_cast<qint64>(image.size())) {
    err << "cannot write " << samplePath << ": " << sample.errorString() << Qt::endl;
    return 1;
  }
  sample.close();

  MainDialog::Options options;
  options.presenter = std::make_shared<MessagesToStandardError>();
  options.chooser = std::make_shared<FixedChoice>(samplePath);
  MainDialog dialog(std::move(options));
  dialog.show();
  bool ok = Save(dialog, folder, QStringLiteral("main-idle.png"), err);

  auto* progress = dialog.findChild<QProgressBar*>(QStringLiteral("progress_1005"));
  dialog.OnOpenClicked();
  dialog.SelectPort(QString::fromLatin1(kVirtualIrdLabel));
  dialog.OnSendClicked();
  const bool midway = RunEventsUntil(
      [&] { return progress->maximum() > 0 && progress->value() * 3 >= progress->maximum(); }, 60s);
  if (!midway)
    err << "the download did not get going; the picture shows where it stands" << Qt::endl;
  ok = Save(dialog, folder, QStringLiteral("main-download.png"), err) && ok;

  AboutDialog about(&dialog);
  about.show();
  ok = Save(about, folder, QStringLiteral("about.png"), err) && ok;
  about.close();

  dialog.reject();

  // A port that would not open: the list marks it until a start opens one.
  {
    MainDialog::Options failing;
    failing.presenter = std::make_shared<MessagesToStandardError>();
    failing.chooser = std::make_shared<FixedChoice>(samplePath);
    const QString absent = QStringLiteral("/dev/ttyUSB-absent");
    failing.extraPorts = {absent.toStdString()};
    MainDialog marked(std::move(failing));
    marked.show();
    marked.OnOpenClicked();
    marked.SelectPort(absent);
    marked.OnSendClicked();
    if (!RunEventsUntil([&] { return marked.ports().openFailed(); }, 10s))
      err << "the absent port did not fail to open" << Qt::endl;
    ok = Save(marked, folder, QStringLiteral("main-port-failure.png"), err) && ok;
    marked.reject();
  }

  // The station window with four virtual IRDs, each a third of the way through its unit.
  {
    StationWindow::Options o;
    o.presenter = std::make_shared<MessagesToStandardError>();
    o.chooser = std::make_shared<FixedChoice>(samplePath);
    o.confirm = [](QWidget*, const QString&) { return true; };
    o.files = {samplePath.toStdString()};
    StationWindow station(std::move(o));
    station.SetVirtualIrds(4);
    station.resize(980, 700);
    station.show();
    station.StartAll();
    const bool going = RunEventsUntil(
        [&] {
          for (int i = 0; i < station.tileCount(); ++i) {
            auto* bar = station.tile(i)->findChild<QProgressBar*>();
            if (bar == nullptr || bar->value() * 3 < bar->maximum()) return false;
          }
          return station.tileCount() == 4;
        },
        60s);
    if (!going) err << "the station's units did not get going" << Qt::endl;
    ok = Save(station, folder, QStringLiteral("station.png"), err) && ok;
    station.close();
  }
  return ok ? 0 : 1;
}

}  // namespace irdload::ui
