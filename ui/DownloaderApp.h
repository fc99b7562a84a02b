// The application object: the whole program is one modal run of the main dialog.
#pragma once

#include <QApplication>

namespace irdload::ui {

class DownloaderApp final : public QApplication {
  Q_OBJECT

 public:
  DownloaderApp(int& argc, char** argv);

  /// Runs the main dialog modally and returns once it has closed and its worker has ended.
  /// Always false: there is nothing left to run after it.
  bool InitInstance();
};

}  // namespace irdload::ui
