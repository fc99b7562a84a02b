// The file choice: which names are taken, which are refused, and what field 1006 shows.
#include <QTest>

#include "harness/DialogHarness.h"

namespace irdload::ui::test {

namespace {
// In the tables "<dir>" stands for the test's folder and "<cancel>" for a cancelled dialog.
const QString kCancel = QStringLiteral("<cancel>");
}  // namespace

class SelectFilesTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    harness_ = std::make_unique<DialogHarness>();
    harness_->presenter().clear();
  }
  void cleanup() { harness_.reset(); }

  void selectFiles_data() {
    QTest::addColumn<QStringList>("before");  // an earlier choice, made first
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("titles");

    const QStringList one = {"Select File"};
    const QStringList two = {"Select File", "Select Second File"};
    QTest::newRow("single file") << QStringList() << QStringList({"<dir>/main.uuc"}) << true
                                 << "<dir>/main.uuc"
                                 << ""
                                 << "<dir>/main.uuc" << QStringList() << one;
    QTest::newRow("pair") << QStringList() << QStringList({"<dir>/fw.u01", "<dir>/fw.u02"}) << true
                          << "<dir>/fw.u01"
                          << "<dir>/fw.u02"
                          << "1: <dir>/fw.u01,\n2: <dir>/fw.u02" << QStringList() << two;
    QTest::newRow("extension is case-sensitive")
        << QStringList({"<dir>/old.uuc"}) << QStringList({"<dir>/MAIN.UUC"}) << true << ""
        << ""
        << "" << QStringList({"Invalid File"}) << one;
    QTest::newRow("second of a pair chosen first")
        << QStringList() << QStringList({"<dir>/fw.u02"}) << true << ""
        << ""
        << "" << QStringList({"Invalid File"}) << one;
    QTest::newRow("single file chosen as second")
        << QStringList() << QStringList({"<dir>/fw.u01", "<dir>/main.uuc"}) << true << ""
        << ""
        << "" << QStringList({"Invalid Second File"}) << two;
    QTest::newRow("first dialog cancelled")
        << QStringList({"<dir>/old.uuc"}) << QStringList({kCancel}) << false << ""
        << ""
        << "<dir>/old.uuc" << QStringList() << one;
    QTest::newRow("second dialog cancelled")
        << QStringList({"<dir>/old.uuc"}) << QStringList({"<dir>/fw.u01", kCancel}) << false
        << "<dir>/fw.u01"
        << ""
        << "<dir>/old.uuc" << QStringList() << two;
    QTest::newRow("name without extension")
        << QStringList() << QStringList({"<dir>/firmware"}) << true << "<dir>/firmware.uuc"
        << ""
        << "<dir>/firmware.uuc" << QStringList() << one;
    QTest::newRow("dot only in the folder") << QStringList() << QStringList({"<dir>/v1.2/firmware"})
                                            << true << "<dir>/v1.2/firmware.uuc"
                                            << ""
                                            << "<dir>/v1.2/firmware.uuc" << QStringList() << one;
    QTest::newRow("empty extension")
        << QStringList() << QStringList({"<dir>/firmware."}) << true << ""
        << ""
        << "" << QStringList({"Invalid File"}) << one;
  }
  void selectFiles() {
    QFETCH(QStringList, before);
    QFETCH(QStringList, answers);
    QFETCH(bool, confirmed);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, shown);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, titles);

    MainDialog& dialog = harness_->dialog();
    ScriptedChooser& chooser = harness_->chooser();
    if (!before.isEmpty()) {
      for (const QString& answer : before) chooser.Answer(Expand(answer));
      QVERIFY(dialog.SelectFiles());
      QVERIFY(!harness_->FieldText(1006).isEmpty());
    }
    const std::size_t asked = chooser.questions().size();
    for (const QString& answer : answers) {
      if (answer == kCancel) {
        chooser.Answer(std::nullopt);
      } else {
        chooser.Answer(Expand(answer));
      }
    }

    QCOMPARE(dialog.SelectFiles(), confirmed);
    QCOMPARE(QString::fromStdString(dialog.FirstFileName()), Expand(first));
    QCOMPARE(QString::fromStdString(dialog.SecondFileName()), Expand(second));
    QCOMPARE(harness_->FieldText(1006), Expand(shown));
    QCOMPARE(harness_->presenter().texts(), messages);
    QCOMPARE(chooser.unanswered(), std::size_t{0});

    QStringList asked_titles;
    for (std::size_t i = asked; i < chooser.questions().size(); ++i) {
      asked_titles << chooser.questions()[i].title;
    }
    QCOMPARE(asked_titles, titles);
    // The first question opens nowhere in particular; the second at the first file.
    QVERIFY(chooser.questions()[asked].startPath.isEmpty());
    if (titles.size() == 2) QCOMPARE(chooser.questions()[asked + 1].startPath, Expand(answers[0]));
  }

  // Choosing while nothing runs sets the names and field 1006 and nothing else.
  void choosingWhileIdleStartsNothing() {
    harness_->ClickOpen({harness_->PathOf("main.uuc")});
    QCOMPARE(harness_->FieldText(1006), harness_->PathOf("main.uuc"));
    QVERIFY(!harness_->dialog().DownloadRunning());
    QCOMPARE(harness_->FieldText(1010), QString());
    QCOMPARE(harness_->Progress()->value(), 0);
    QVERIFY(harness_->presenter().shown().empty());
  }

 private:
  QString Expand(const QString& text) const {
    QString out = text;
    return out.replace(QStringLiteral("<dir>"), QString::fromStdString(harness_->dir().string()));
  }

  std::unique_ptr<DialogHarness> harness_;
};

}  // namespace irdload::ui::test

QTEST_MAIN(irdload::ui::test::SelectFilesTest)
#include "SelectFilesTest.moc"
