#include "ui/Screenshots.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <chrono>
#include <functional>

#include "dialog/PortChoices.h"
#include "engine/Image.h"
#include "engine/ImageWriter.h"
#include "sim/VirtualIrd.h"
#include "ui/AboutDialog.h"
#include "ui/HeadlessPrompts.h"
#include "ui/MainDialog.h"
#include "ui/StateBadge.h"
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

// Writes an upgrade file of `payload` pattern bytes.
bool WriteSample(const QString& path, std::size_t payload, QTextStream& err) {
  const std::vector<std::uint8_t> image = ComposeImage(kTypeSingle, PatternPayload(payload));
  QFile file(path);
  if (file.open(QIODevice::WriteOnly) &&
      file.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size())) ==
          static_cast<qint64>(image.size())) {
    return true;
  }
  err << "cannot write " << path << ": " << file.errorString() << Qt::endl;
  return false;
}

bool SaveStation(const QTemporaryDir& sampleDir, const QDir& folder, QTextStream& err) {
  // Small enough that a paced unit ends within seconds.
  const QString samplePath = sampleDir.filePath(QStringLiteral("station.uuc"));
  if (!WriteSample(samplePath, 40 * 1024, err)) return false;
  // A receiver whose every load ends in failure, on a line of its own.
  sim::VirtualIrd::Options failing{.baud = 115200};
  failing.faults = {{sim::FaultKind::FailTerminate}};
  sim::VirtualIrd failingIrd(failing);
  std::string error;
  if (!failingIrd.Start(&error)) {
    err << "cannot start a virtual IRD: " << QString::fromStdString(error) << Qt::endl;
    return false;
  }
  const QString absent = QStringLiteral("/dev/ttyUSB-absent");
  const QString failingLine = QString::fromStdString(failingIrd.SlavePath());
  StationWindow::Options o;
  o.presenter = std::make_shared<MessagesToStandardError>();
  o.chooser = std::make_shared<FixedChoice>(samplePath);
  o.confirm = [](QWidget*, const QString&) { return true; };
  o.files = {samplePath.toStdString()};
  o.extraPorts = {failingLine.toStdString(), absent.toStdString()};
  StationWindow station(std::move(o));
  station.SetVirtualIrds(6);
  station.ChoosePort(failingLine);
  station.ChoosePort(absent);
  station.resize(1366, 740);
  station.show();
  const auto tileOf = [&](const QString& label) {
    for (int i = 0; i < station.tileCount(); ++i) {
      if (station.tileLabel(i) == label) return i;
    }
    return -1;
  };
  const auto virtualIrd = [&](int n) { return tileOf(QStringLiteral("Virtual IRD %1").arg(n)); };
  const auto look = [&](int tile) { return station.tile(tile)->badge()->look(); };
  const auto third = [&](int tile) {
    auto* bar = station.tile(tile)->findChild<QProgressBar*>();
    return bar != nullptr && bar->value() * 3 >= bar->maximum();
  };
  if (station.tileCount() != 8 || tileOf(failingLine) < 0 || tileOf(absent) < 0) {
    err << "the station has not the eight sockets it should" << Qt::endl;
    return false;
  }
  // First round: one loads, one fails, one is stopped a third of the way, one has no adapter.
  for (int tile : {virtualIrd(1), tileOf(failingLine), virtualIrd(2), tileOf(absent)}) {
    station.StartPort(tile);
  }
  if (!RunEventsUntil([&] { return third(virtualIrd(2)); }, 60s)) {
    err << "the unit to be stopped did not get going" << Qt::endl;
  }
  station.StopPort(virtualIrd(2));
  if (!RunEventsUntil(
          [&] {
            return look(virtualIrd(1)) == TileLook::Loaded &&
                   look(tileOf(failingLine)) == TileLook::Failed &&
                   look(virtualIrd(2)) == TileLook::Stopped;
          },
          60s)) {
    err << "the first round did not end as it should" << Qt::endl;
  }
  // Second round: three load; the sixth waits for its go.
  for (int n : {3, 4, 5}) station.StartPort(virtualIrd(n));
  if (!RunEventsUntil([&] { return third(virtualIrd(3)) && third(virtualIrd(5)); }, 60s)) {
    err << "the second round did not get going" << Qt::endl;
  }
  bool ok = Save(station, folder, QStringLiteral("station-1366x768.png"), err);
  const QString grey = folder.filePath(QStringLiteral("station-1366x768-grey.png"));
  if (!station.grab().toImage().convertToFormat(QImage::Format_Grayscale8).save(grey)) {
    err << "cannot write " << grey << Qt::endl;
    ok = false;
  }
  station.resize(1920, 1050);
  ok = Save(station, folder, QStringLiteral("station-1920x1080.png"), err) && ok;
  station.close();
  return ok;
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
  const QString samplePath = sampleDir.filePath(QStringLiteral("sample.uuc"));
  if (!WriteSample(samplePath, 96 * 1024, err)) return 1;

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

  // Ending the dialog mid-download asks first; the picture is of the real question, answered No.
  bool asked = false;
  QTimer::singleShot(0, &dialog, [&] {
    QWidget* question = nullptr;
    RunEventsUntil(
        [&] {
          for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == QStringLiteral("question") && w->isVisible()) question = w;
          }
          return question != nullptr;
        },
        10s);
    if (question == nullptr) return;
    asked = true;
    ok = Save(*question, folder, QStringLiteral("main-end-question.png"), err) && ok;
    if (auto* box = qobject_cast<QMessageBox*>(question)) box->button(QMessageBox::No)->click();
  });
  dialog.reject();
  if (!asked || !dialog.isVisible()) {
    err << "ending mid-download did not ask, or did not keep the dialog" << Qt::endl;
    ok = false;
  }

  AboutDialog about(&dialog);
  about.show();
  ok = Save(about, folder, QStringLiteral("about.png"), err) && ok;
  about.close();

  // Choosing the file again stops the download, as it does for the operator: the dialog then
  // ends without a question.
  dialog.OnOpenClicked();
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

  // The station window with eight sockets in every state an operator meets: loaded, failed,
  // stopped, loading, waiting for the adapter and waiting for the go; at a laptop's and a full
  // HD screen's size (less a title bar), and the first in grey, as an operator who cannot tell
  // red from green sees it.
  ok = SaveStation(sampleDir, folder, err) && ok;
  return ok ? 0 : 1;
}

}  // namespace irdload::ui
