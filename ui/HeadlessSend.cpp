#include "ui/HeadlessSend.h"

#include <QComboBox>
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
  auto* ports = dialog.findChild<QComboBox*>(QStringLiteral("combo_1000"));
  ports->setCurrentIndex(ports->findText(port));
  dialog.OnOpenClicked();
  dialog.OnSendClicked();
  // The end message box is the end of the download.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!dialog.DownloadRunning() && dialog.PendingWorkerCalls() == 0) dialog.reject();
  });
  poll.start(50);
  dialog.exec();
  return messages->texts().contains(QStringLiteral("Download end successfully.")) ? 0 : 1;
}

}  // namespace irdload::ui
