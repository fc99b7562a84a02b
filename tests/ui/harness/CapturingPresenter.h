// Records every message the dialog shows instead of opening a box; can keep one "box" open (its
// own event loop running) while a test acts, as an operator who has not answered yet.
#pragma once

#include <QEventLoop>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <utility>
#include <vector>

#include "ui/OperatorPrompts.h"

namespace irdload::ui::test {

class CapturingPresenter final : public MessagePresenter {
 public:
  void Show(QWidget*, const OperatorMessage& message) override {
    shown_.push_back(message);
    if (!whileOpen_) return;
    std::function<void()> action = std::exchange(whileOpen_, {});
    QEventLoop open;
    QTimer::singleShot(0, &open, [&] {
      action();
      open.quit();
    });
    open.exec();
  }

  /// The next message stays open until `action` has run inside its event loop.
  void WhileNextBoxIsOpen(std::function<void()> action) { whileOpen_ = std::move(action); }

  const std::vector<OperatorMessage>& shown() const { return shown_; }
  QStringList texts() const {
    QStringList out;
    for (const OperatorMessage& m : shown_) out << m.text;
    return out;
  }
  void clear() { shown_.clear(); }

 private:
  std::vector<OperatorMessage> shown_;
  std::function<void()> whileOpen_;
};

}  // namespace irdload::ui::test
