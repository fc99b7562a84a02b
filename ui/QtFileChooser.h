// The upgrade-file question as a real Qt file dialog.
#pragma once

#include <QFileDialog>
#include <QStringList>
#include <memory>

#include "ui/OperatorPrompts.h"

namespace irdload::ui {

/// Turns a Windows-style filter ("Text(*.txt,*.log)|*.txt;*.log|All(*.*)|*.*|") into Qt name
/// filters that show each description as it stands and filter by its patterns: Qt reads the
/// patterns from the last parentheses, space-separated, and with HideNameFilterDetails shows what
/// comes before them ("Text(*.txt,*.log) (*.txt *.log)" shows "Text(*.txt,*.log)"). "*.*" is
/// every file, dotted or not, as it is on Windows.
QStringList NameFiltersFromWindowsFilter(const QString& filter);

class QtFileChooser final : public FileChooser {
 public:
  /// The filter the upgrade-file question offers, in its Windows form.
  static constexpr const char* kWindowsFilter =
      "ZB upg file(*.u01,*.u02,*.uuc)|*.u01;*.u02;*.uuc|All files(*.*)|*.*|";

  /// The dialog Choose runs: open mode, the chosen file need not exist, default suffix "uuc", the
  /// upgrade-file filter (or the one the operator picked last), opened at `startPath`.
  std::unique_ptr<QFileDialog> MakeDialog(QWidget* parent, const FileQuestion& question) const;

  std::optional<QString> Choose(QWidget* parent, const FileQuestion& question) override;

 private:
  QString lastNameFilter_;
};

}  // namespace irdload::ui
