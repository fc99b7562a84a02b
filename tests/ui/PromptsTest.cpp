// The real prompts: the message box the operator sees, the file dialog's set-up, and the title
// that captions every box.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QTest>

#include "harness/DialogHarness.h"
#include "ui/ApplicationTitle.h"
#include "ui/QtFileChooser.h"
#include "ui/QtMessagePresenter.h"

namespace irdload::ui::test {

class PromptsTest : public QObject {
  Q_OBJECT

 private slots:
  void applicationTitle_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("title");
    QTest::newRow("Windows program") << "/opt/tools/loader.exe"
                                     << "loader";
    QTest::newRow("no extension") << "/usr/bin/irdload"
                                  << "irdload";
    QTest::newRow("only the last extension goes") << "/opt/irdload.v2.exe"
                                                  << "irdload.v2";
  }
  void applicationTitle() {
    QFETCH(QString, program);
    QFETCH(QString, title);
    QCOMPARE(ApplicationTitleFor(program), title);
  }

  void thisProgramsTitle() { QCOMPARE(ApplicationTitle(), QStringLiteral(IRDLOAD_TEST_PROGRAM)); }

  void messageBox_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("detail");
    QTest::newRow("text alone") << "Invalid File"
                                << "";
    QTest::newRow("with the reason") << "COM3 Open Error!"
                                     << "No such file or directory";
    QTest::newRow("markup stays text") << "<b>x</b>"
                                       << "";
  }
  void messageBox() {
    QFETCH(QString, text);
    QFETCH(QString, detail);
    const auto box = QtMessagePresenter::MakeBox(
        nullptr, {QStringLiteral("loader"), text, detail, QMessageBox::Warning});
    QCOMPARE(box->windowTitle(), QStringLiteral("loader"));
    QCOMPARE(box->text(), text);
    QCOMPARE(box->informativeText(), detail);
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(box->windowModality(), Qt::ApplicationModal);
  }

  void fileDialogAsksForUpgradeFiles() {
    QtFileChooser chooser;
    const auto dialog = chooser.MakeDialog(nullptr, {QStringLiteral("Select File"), QString()});
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Select File"));
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(dialog->fileMode(), QFileDialog::AnyFile);
    QCOMPARE(dialog->defaultSuffix(), QStringLiteral("uuc"));
    // The operator reads the filters as the tool has always written them.
    auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    QVERIFY(types != nullptr);
    QStringList shown;
    for (int i = 0; i < types->count(); ++i) shown << types->itemText(i);
    QCOMPARE(shown, QStringList({"ZB upg file(*.u01,*.u02,*.uuc)", "All files(*.*)"}));
    QCOMPARE(types->currentIndex(), 0);
  }

  // The first filter lists upgrade files only; "All files" lists every file, also one without a
  // dot in its name.
  void fileDialogFiltersByThePatterns() {
    irdload::test::TempDir dir;
    for (const char* name : {"fw.uuc", "fw.u01", "fw.u02", "notes.txt", "README"}) {
      dir.WriteBytes(name, {1});
    }
    QtFileChooser chooser;
    const auto dialog = chooser.MakeDialog(nullptr, {QStringLiteral("Select File"), QString()});
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setDirectory(QString::fromStdString(dir.path().string()));
    auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
    QVERIFY(list != nullptr);
    const auto listed = [&] {
      QStringList names;
      QAbstractItemModel* model = list->model();
      const QModelIndex root = list->rootIndex();
      for (int row = 0; row < model->rowCount(root); ++row) {
        names << model->index(row, 0, root).data().toString();
      }
      names.sort();
      return names;
    };
    QTRY_COMPARE_WITH_TIMEOUT(listed(), QStringList({"fw.u01", "fw.u02", "fw.uuc"}), kWaitMs);
    dialog->selectNameFilter(
        NameFiltersFromWindowsFilter(QString::fromLatin1(QtFileChooser::kWindowsFilter))[1]);
    QTRY_COMPARE_WITH_TIMEOUT(
        listed(), QStringList({"README", "fw.u01", "fw.u02", "fw.uuc", "notes.txt"}), kWaitMs);
  }

  // The second question opens at the first file, with the filter the operator used for it, and a
  // name typed without an extension comes back as ".uuc".
  void fileDialogRunsAsTheOperatorSeesIt() {
    irdload::test::TempDir dir;
    const QString folder = QString::fromStdString(dir.path().string());
    const QString first = QString::fromStdString(dir.WriteBytes("fw.u01", {1}));
    QtFileChooser chooser;

    WhenShown([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); },
              [&](QWidget* shown) {
                auto* dialog = qobject_cast<QFileDialog*>(shown);
                if (dialog == nullptr) return;
                dialog->setDirectory(folder);
                dialog->selectNameFilter(QStringLiteral("All files(*.*) (*)"));
                dialog->selectFile(QStringLiteral("firmware"));
                static_cast<QDialog*>(dialog)->accept();  // QFileDialog hides it
              });
    const std::optional<QString> chosen =
        chooser.Choose(nullptr, {QStringLiteral("Select File"), QString()});
    QCOMPARE(chosen, std::optional<QString>(folder + QStringLiteral("/firmware.uuc")));

    const auto second = chooser.MakeDialog(nullptr, {QStringLiteral("Select Second File"), first});
    QCOMPARE(second->windowTitle(), QStringLiteral("Select Second File"));
    QCOMPARE(second->directory().absolutePath(), folder);
    QCOMPARE(second->selectedFiles(), QStringList({first}));
    QCOMPARE(second->selectedNameFilter(), QStringLiteral("All files(*.*)"));
  }

  void cancelledFileDialogGivesNothing() {
    QtFileChooser chooser;
    WhenShown([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); },
              [](QWidget* shown) {
                if (shown != nullptr) QTest::keyClick(shown, Qt::Key_Escape);
              });
    QCOMPARE(chooser.Choose(nullptr, {QStringLiteral("Select File"), QString()}),
             std::optional<QString>());
  }
};

}  // namespace irdload::ui::test

QTEST_MAIN(irdload::ui::test::PromptsTest)
#include "PromptsTest.moc"
