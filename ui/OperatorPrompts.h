// The two questions the dialog puts to the operator, behind interfaces so that tests answer them
// and record them instead of showing real boxes.
#pragma once

#include <QMessageBox>
#include <QString>
#include <optional>

class QWidget;

namespace irdload::ui {

/// A modal message with an OK button.
struct OperatorMessage {
  QString caption;  ///< the application title
  QString text;     ///< the system's exact text
  QString detail;   ///< secondary explanation, may be empty
  QMessageBox::Icon icon = QMessageBox::Warning;
};

/// Shows a message and returns when the operator has closed it. Called on the dialog's thread.
class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  virtual void Show(QWidget* parent, const OperatorMessage& message) = 0;
};

/// One file question.
struct FileQuestion {
  QString title;      ///< "Select File" or "Select Second File"
  QString startPath;  ///< the file to open at (its folder and name); empty for none
};

/// Asks for one upgrade file. Called on the dialog's thread.
class FileChooser {
 public:
  virtual ~FileChooser() = default;
  /// The full path chosen, or nothing when the operator cancelled.
  virtual std::optional<QString> Choose(QWidget* parent, const FileQuestion& question) = 0;
};

}  // namespace irdload::ui
