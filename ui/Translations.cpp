#include "ui/Translations.h"

#include <QCoreApplication>
#include <QTranslator>
#include <memory>

namespace irdload::ui {

bool InstallTranslation(QCoreApplication& app, const QLocale& locale) {
  // One translator for the program's life, reloaded when the locale changes.
  static QTranslator* translator = nullptr;
  if (translator != nullptr) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
    translator = nullptr;
  }
  auto loaded = std::make_unique<QTranslator>(&app);
  // Built into the program (":/i18n/irdload_ru.qm"); "en" and the rest find none.
  if (!loaded->load(locale, QStringLiteral("irdload"), QStringLiteral("_"),
                    QStringLiteral(":/i18n"))) {
    return false;
  }
  translator = loaded.release();
  QCoreApplication::installTranslator(translator);
  return true;
}

}  // namespace irdload::ui
