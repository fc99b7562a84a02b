// The texts new to the program follow the operator's locale: Russian under a Russian locale,
// English (as written) under any other; the dialog's own texts stay as they are in either.
#include <QApplication>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>

#include "harness/DialogHarness.h"
#include "ui/StationTile.h"
#include "ui/StationWindow.h"
#include "ui/Translations.h"

namespace irdload::ui::test {

class TranslationTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanupTestCase() { InstallTranslation(*qApp, QLocale(QLocale::English)); }

  void textsFollowTheLocale_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("translated");
    QTest::addColumn<QString>("startAll");
    QTest::addColumn<QString>("tileStart");
    QTest::addColumn<QString>("waiting");  // a fresh tile's state
    QTest::addColumn<QString>("counts");
    QTest::newRow("Russian") << "ru_RU" << true << QStringLiteral("Запустить все")
                             << QStringLiteral("Пуск")
                             << QStringLiteral("Нажмите «Пуск», чтобы загрузить приёмник")
                             << QStringLiteral("Загружено 0 · Ошибок 0 · Остановлено 0");
    QTest::newRow("Russian, Ukraine")
        << "ru_UA" << true << QStringLiteral("Запустить все") << QStringLiteral("Пуск")
        << QStringLiteral("Нажмите «Пуск», чтобы загрузить приёмник")
        << QStringLiteral("Загружено 0 · Ошибок 0 · Остановлено 0");
    for (const char* other : {"en_US", "de_DE", "uk_UA"}) {
      QTest::newRow(other) << other << false << QStringLiteral("Start all")
                           << QStringLiteral("Start")
                           << QStringLiteral("Press Start to load a unit")
                           << QStringLiteral("Loaded 0 · Failed 0 · Stopped 0");
    }
  }
  void textsFollowTheLocale() {
    QFETCH(QString, locale);
    QFETCH(bool, translated);
    QFETCH(QString, startAll);
    QFETCH(QString, tileStart);
    QFETCH(QString, waiting);
    QFETCH(QString, counts);
    QCOMPARE(InstallTranslation(*qApp, QLocale(locale)), translated);

    // The station window, opened from the dialog's menu as the operator opens it.
    QString question;
    DialogHarness::Setup setup;
    setup.confirm = [&question](QWidget*, const QString& q) {
      question = q;
      return false;
    };
    DialogHarness harness(setup);
    StationWindow* station = harness.dialog().OpenStation();
    station->SetVirtualIrds(1);
    QCOMPARE(station->findChild<QPushButton*>(QStringLiteral("startAll"))->text(), startAll);
    QCOMPARE(station->tile(0)->startButton()->text(), tileStart);
    QCOMPARE(station->tile(0)->stateText(), waiting);
    QCOMPARE(station->summaryText(), counts);

    // The dialog's own texts are the same in every language.
    QCOMPARE(harness.Button(1)->text(), QStringLiteral("OK"));
    QCOMPARE(harness.Button(1009)->text(), QStringLiteral("Отмена"));
    QCOMPARE(harness.Button(1002)->text(), QStringLiteral("Отправить файл в IRD"));
    QCOMPARE(harness.dialog().windowTitle(), QStringLiteral("Zembrin 1.0"));
  }
};

}  // namespace irdload::ui::test

QTEST_MAIN(irdload::ui::test::TranslationTest)
#include "TranslationTest.moc"
