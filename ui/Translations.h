// The program's texts in the operator's language: the translation for the locale, when there is
// one; English, as the texts are written, otherwise. The dialog's own texts are not translated.
#pragma once

#include <QLocale>

class QCoreApplication;

namespace irdload::ui {

/// Installs the translation for `locale` into `app` (replacing one installed before); false when
/// the program has none for it, and the texts stay English.
bool InstallTranslation(QCoreApplication& app, const QLocale& locale = QLocale());

}  // namespace irdload::ui
