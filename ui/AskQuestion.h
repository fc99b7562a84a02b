// A yes-or-no question to the operator, "No" the default: the answer that keeps what runs going.
#pragma once

#include <QString>

class QWidget;

namespace irdload::ui {

/// A real question box over `parent`; true when the operator chose "Yes".
bool AskQuestion(QWidget* parent, const QString& text);

}  // namespace irdload::ui
