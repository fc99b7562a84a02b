#include "ui/HeadlessSend.h"

#include <QCoreApplication>
#include <QTimer>

#include "ui/HeadlessPrompts.h"
#include "ui/MainDialog.h"

namespace irdload::ui {

int RunHeadlessSend(const QString& file, const QString& port) {
  auto messages = std::make_shared<MessagesToStandardError>();
  MainDialog::Options options;
  options.presenter = messages;
  options.chooser = std::make_shared<FixedChoice>(file);
  options.extraPorts = {port.toStdString()};
  MainDialog dialog(std::move(options));
  dialog.show();
  dialog.SelectPort(port);
  dialog.OnOpenClicked();
  dialog.OnSendClicked();
  // The end message box is the end of the download.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!dialog.DownloadRunning() && dialog.PendingWorkerCalls() == 0) dialog.reject();
  });
  poll.start(50);
  dialog.exec();
  const std::optional<Outcome> outcome = dialog.LastOutcome();
  return outcome && outcome->kind == OutcomeKind::Success ? 0 : 1;
}

}  // namespace irdload::ui
