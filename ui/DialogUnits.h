// Dialog-unit layout on whatever font the desktop gives: the forms hold pixel positions for a
// font whose average character is 6 x 13 pixels (1 dialog unit = 1.5 x 1.625 pixels); a wider or
// taller font stretches the whole form the same way, as a dialog template does, so that no label
// is clipped.
#pragma once

class QLabel;
class QString;
class QWidget;

namespace irdload::ui {

/// Scales `form` and each of its direct children by the font's average character size against
/// 6 x 13 pixels, then fixes the form's size so that it cannot be resized.
void FitFormToFont(QWidget& form);

/// Widens a framed text field (a QLabel) until `widest` fits inside its frame in the field's
/// font. It grows to the right, pushing `after` (the label that follows it) along; or, with
/// `before` given, to the left, pushing `before` (the label in front of it) along.
void FitFieldToText(QLabel& field, const QString& widest, QWidget* after, QWidget* before);

}  // namespace irdload::ui
