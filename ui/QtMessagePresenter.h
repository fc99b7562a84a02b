// Operator messages as real Qt message boxes.
#pragma once

#include <memory>

#include "ui/OperatorPrompts.h"

namespace irdload::ui {

class QtMessagePresenter final : public MessagePresenter {
 public:
  /// The box Show runs: application-modal, OK button, the message's icon and caption, the detail
  /// as informative text.
  static std::unique_ptr<QMessageBox> MakeBox(QWidget* parent, const OperatorMessage& message);

  void Show(QWidget* parent, const OperatorMessage& message) override;
};

}  // namespace irdload::ui
