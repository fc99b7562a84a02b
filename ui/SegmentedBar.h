// Draws a progress bar as the dialog's template has it: bordered, in separate blocks rather
// than one smooth bar. An event filter, so that the bar the form builds keeps its type.
#pragma once

#include <QObject>

class QProgressBar;

namespace irdload::ui {

class SegmentedBar final : public QObject {
  Q_OBJECT

 public:
  /// Paints `bar` from now on; owned by the bar.
  static void Apply(QProgressBar& bar);

  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  using QObject::QObject;
};

}  // namespace irdload::ui
