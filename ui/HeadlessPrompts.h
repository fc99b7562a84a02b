// Answers for the dialog when nobody sits in front of it (screenshots, the benchmark's headless
// send): messages go to standard error, every file question gets the same file.
#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <mutex>

#include "ui/OperatorPrompts.h"

namespace irdload::ui {

class MessagesToStandardError final : public MessagePresenter {
 public:
  void Show(QWidget*, const OperatorMessage& message) override {
    QTextStream err(stderr);
    err << message.caption << ": " << message.text;
    if (!message.detail.isEmpty()) err << " (" << message.detail << ")";
    err << Qt::endl;
    std::lock_guard lk(mu_);
    texts_ << message.text;
  }
  QStringList texts() const {
    std::lock_guard lk(mu_);
    return texts_;
  }

 private:
  mutable std::mutex mu_;
  QStringList texts_;
};

class FixedChoice final : public FileChooser {
 public:
  explicit FixedChoice(QString path) : path_(std::move(path)) {}
  std::optional<QString> Choose(QWidget*, const FileQuestion&) override { return path_; }

 private:
  QString path_;
};

}  // namespace irdload::ui
