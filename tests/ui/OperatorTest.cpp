// What an operator met in the dialog: a virtual IRD left deaf by a stop, figures cut short, a port
// failure that left no trace, boxes too narrow or in a corner, the keyboard's way to the menu, a
// port list that did not follow the adapters, and files dropped on the window.
#include <QApplication>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QStandardItemModel>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "harness/DialogHarness.h"
#include "ui/QtMessagePresenter.h"

namespace irdload::ui::test {
namespace {

const QString kSuccess = QStringLiteral("Download end successfully.");

// A USB adapter in the fake sysfs and device folder the harness lists ports from.
void PlugIn(const DialogHarness& harness, const std::string& tty) {
  std::filesystem::create_directories(harness.dir() / "sys" / "class" / "tty" / tty);
  std::ofstream(harness.dir() / "dev" / tty).put('\0');
}

void Unplug(const DialogHarness& harness, const std::string& tty) {
  std::filesystem::remove_all(harness.dir() / "sys" / "class" / "tty" / tty);
  std::filesystem::remove(harness.dir() / "dev" / tty);
}

QStringList Items(QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

}  // namespace

class OperatorTest : public QObject {
  Q_OBJECT

 private slots:
  // A download stopped half-way by choosing new files leaves the virtual IRD waiting for an
  // answer; the next start meets it as a receiver that was switched off and on.
  void virtualIrdAnswersAgainAfterAStop() {
    DialogHarness::Setup paced;
    paced.virtualIrd.baud = DownloadEngine::kBaud;
    DialogHarness harness(paced);
    const QString image = harness.WriteImage("image.uuc", kTypeSingle, 40000);
    harness.ClickOpen({image});
    harness.SelectVirtualIrd();
    harness.ClickSend();
    QTRY_VERIFY_WITH_TIMEOUT(harness.Progress()->value() >= 2, kWaitMs);
    harness.ClickOpen({harness.WriteImage("small.uuc", kTypeSingle, 3000)});
    QVERIFY(!harness.dialog().DownloadRunning());
    harness.presenter().clear();
    harness.ClickSend();
    QTRY_COMPARE_WITH_TIMEOUT(harness.presenter().texts(), QStringList({kSuccess}), kWaitMs);
  }

  void numberFieldsHoldTenDigits_data() {
    QTest::addColumn<double>("scale");
    QTest::newRow("96 dpi") << 1.0;
    QTest::newRow("144 dpi") << 1.5;
  }
  void numberFieldsHoldTenDigits() {
    QFETCH(double, scale);
    QFont font = QApplication::font();
    const QFont before = font;
    font.setPointSizeF(font.pointSizeF() * scale);
    QApplication::setFont(font);
    {
      DialogHarness harness;
      for (const auto& [id, widest] : {std::pair{1007, "4294967295"}, std::pair{1014, "4294967295"},
                                       std::pair{1011, "4294967295"}, std::pair{1008, "9999:59"},
                                       std::pair{1016, "9999:59"}}) {
        QLabel* field = harness.Field(id);
        QVERIFY2(field->fontMetrics().horizontalAdvance(QString::fromLatin1(widest)) <=
                     field->contentsRect().width(),
                 qPrintable(QStringLiteral("field %1").arg(id)));
      }
      // Nothing the widening moved lands on another control.
      const QList<QWidget*> controls =
          harness.dialog().findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
      for (QWidget* a : controls) {
        for (QWidget* b : controls) {
          if (a == b || a->isWindow() || b->isWindow() || a->isHidden() || b->isHidden()) continue;
          QVERIFY2(!a->geometry().intersects(b->geometry()),
                   qPrintable(a->objectName() + " overlaps " + b->objectName()));
        }
      }
      harness.Field(1014)->setText(QStringLiteral("1048576"));
      QCOMPARE(harness.FieldText(1014), QStringLiteral("1048576"));
    }
    QApplication::setFont(before);
  }

  // The engine keeps calling on a port that did not open; the list shows it, with the reason,
  // until a start opens a port, and a start pressed meanwhile tries again.
  void portThatDidNotOpenIsMarked() {
    DialogHarness::Setup setup;
    setup.foundTtys = {"ttyUSB0"};  // listed, but its device node does not exist
    DialogHarness harness(setup);
    harness.ClickOpen({harness.WriteImage("image.uuc", kTypeSingle, 100)});
    harness.SelectPort(harness.DevicePath("ttyUSB0"));
    harness.presenter().clear();
    harness.ClickSend();
    QTRY_VERIFY_WITH_TIMEOUT(harness.dialog().ports().openFailed(), kWaitMs);
    QComboBox* ports = harness.Ports();
    QVERIFY(!ports->itemIcon(ports->currentIndex()).isNull());
    QVERIFY(ports->toolTip().contains(QStringLiteral("Open Error!")));
    QVERIFY(ports->toolTip().contains(QStringLiteral("no such device")));
    QVERIFY(harness.dialog().DownloadRunning());
    // The mark does not make its row taller: the entries stay where the mouse expects them.
    ports->showPopup();
    QAbstractItemView* list = ports->view();
    for (int row = 0; row < ports->count(); ++row) {
      QCOMPARE(list->visualRect(list->model()->index(row, 0)).height(),
               list->visualRect(list->model()->index(0, 0)).height());
    }
    ports->hidePopup();

    // Pressed again on another port that opens: the calls on the dead port end, this one runs.
    harness.SelectVirtualIrd();
    harness.presenter().clear();
    harness.ClickSend();
    QTRY_COMPARE_WITH_TIMEOUT(harness.presenter().texts(), QStringList({kSuccess}), kWaitMs);
    QVERIFY(!harness.dialog().ports().openFailed());
    QVERIFY(ports->itemIcon(ports->currentIndex()).isNull());
    QVERIFY(ports->toolTip().isEmpty());
  }

  void messageBoxesFitTheirTextAndCaption() {
    const OperatorMessage message{
        QStringLiteral("irdload"), QStringLiteral("/dev/ttyS1 Open Error!"),
        QStringLiteral("no such device: /dev/ttyS1 does not exist"), QMessageBox::Warning};
    const auto box = QtMessagePresenter::MakeBox(nullptr, message);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    QVERIFY(label != nullptr);
    QVERIFY(label->fontMetrics().horizontalAdvance(message.text) <= label->contentsRect().width());
    QVERIFY(box->width() >= box->fontMetrics().horizontalAdvance(message.caption) + 100);
  }

  // The box of a port that did not open at start-up comes before the window: it stands in the
  // middle of the screen, not in its corner.
  void boxWithoutAWindowIsCentred() {
    QtMessagePresenter presenter;
    QWidget hidden;
    QPoint centre;
    WhenShown([] { return QApplication::activeModalWidget(); },
              [&](QWidget* shown) {
                if (shown == nullptr) return;
                centre = shown->geometry().center();
                static_cast<QDialog*>(shown)->accept();
              });
    presenter.Show(&hidden, {QStringLiteral("irdload"), QStringLiteral("COM1 Open Error!"),
                             QString(), QMessageBox::Warning});
    const QPoint screen = QGuiApplication::primaryScreen()->availableGeometry().center();
    QVERIFY2((centre - screen).manhattanLength() < 20,
             qPrintable(QStringLiteral("box at %1,%2").arg(centre.x()).arg(centre.y())));
  }

  void keyboardReachesTheWindowMenu_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Menu key") << int(Qt::Key_Menu) << int(Qt::NoModifier);
    QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier);
  }
  void keyboardReachesTheWindowMenu() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    DialogHarness harness;
    MainDialog& dialog = harness.dialog();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow();
    QStringList items;
    WhenShown([&] { return dialog.windowMenu()->isVisible() ? dialog.windowMenu() : nullptr; },
              [&](QWidget* shown) {
                if (shown == nullptr) return;
                for (QAction* action : dialog.windowMenu()->actions()) items << action->text();
                dialog.windowMenu()->close();
              });
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dialog,
                    static_cast<Qt::Key>(key), static_cast<Qt::KeyboardModifiers>(modifiers));
    QTRY_VERIFY_WITH_TIMEOUT(items.contains(QStringLiteral("&About Zembrin...")), kWaitMs);
  }

  // Adapters plugged in and out while the dialog is open: the list follows, the fixed entries
  // keep their places, and the one selected stays (greyed) until it returns or another is chosen.
  void portListFollowsTheAdapters() {
    DialogHarness harness;
    QComboBox* ports = harness.Ports();
    const QString usb0 = harness.DevicePath("ttyUSB0");
    PlugIn(harness, "ttyUSB0");
    QTRY_COMPARE_WITH_TIMEOUT(
        Items(ports), QStringList({"COM1", "COM2", "COM3", "COM4", usb0, "Virtual IRD"}), kWaitMs);
    harness.SelectPort(usb0);

    Unplug(harness, "ttyUSB0");
    harness.dialog().ports().Refresh();
    QCOMPARE(Items(ports), QStringList({"COM1", "COM2", "COM3", "COM4", usb0, "Virtual IRD"}));
    QCOMPARE(ports->currentText(), usb0);
    auto* model = qobject_cast<QStandardItemModel*>(ports->model());
    QVERIFY(!model->item(4)->isEnabled());

    PlugIn(harness, "ttyUSB0");
    harness.dialog().ports().Refresh();
    QVERIFY(model->item(4)->isEnabled());
    QCOMPARE(ports->currentText(), usb0);

    Unplug(harness, "ttyUSB0");
    harness.dialog().ports().Refresh();
    harness.SelectPort(QStringLiteral("COM2"));
    QTRY_COMPARE_WITH_TIMEOUT(
        Items(ports), QStringList({"COM1", "COM2", "COM3", "COM4", "Virtual IRD"}), kWaitMs);
    QCOMPARE(ports->currentText(), QStringLiteral("COM2"));
  }

  void adaptersShowTheirStableNameAndDetails() {
    namespace fs = std::filesystem;
    DialogHarness harness;
    const fs::path sys = harness.dir() / "sys";
    const fs::path dev = harness.dir() / "dev";
    const auto link = [](const fs::path& at, const fs::path& target) {
      fs::create_directories(at.parent_path());
      fs::create_symlink(target.lexically_relative(at.parent_path()), at);
    };
    // A USB adapter as sysfs lays it out: the device with its descriptors, its interface, the
    // usb-serial port and its tty, and the class entry pointing at that tty.
    const fs::path usb = sys / "devices" / "pci0000:00" / "usb1" / "1-1";
    fs::create_directories(usb);
    for (const auto& [name, value] :
         {std::pair{"idVendor", "0403"}, std::pair{"idProduct", "6001"},
          std::pair{"manufacturer", "FTDI"}, std::pair{"product", "FT232R USB UART"},
          std::pair{"serial", "A1B2C3"}}) {
      std::ofstream(usb / name) << value << '\n';
    }
    const fs::path port = usb / "1-1:1.0" / "ttyUSB3";
    const fs::path tty = port / "tty" / "ttyUSB3";
    fs::create_directories(tty);
    link(tty / "device", port);
    link(sys / "class" / "tty" / "ttyUSB3", tty);
    std::ofstream(dev / "ttyUSB3").put('\0');
    const fs::path byId = dev / "serial" / "by-id" / "usb-FTDI_FT232R_A1B2C3-if00-port0";
    link(byId, dev / "ttyUSB3");
    harness.dialog().ports().Refresh();
    QComboBox* ports = harness.Ports();
    const int at = ports->findText(QString::fromStdString(byId.string()));
    QVERIFY2(at >= 0, qPrintable(Items(ports).join(u' ')));
    const QString tip = ports->itemData(at, Qt::ToolTipRole).toString();
    for (const char* part : {"FTDI", "FT232R USB UART", "A1B2C3"}) {
      QVERIFY2(tip.contains(QString::fromLatin1(part)), qPrintable(tip));
    }
  }

  void dropChoosesFiles_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("shown");  // field 1006, with <dir> for the folder
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("a .uuc") << QStringList({"fw.uuc"}) << "<dir>/fw.uuc" << QStringList();
    QTest::newRow("a pair") << QStringList({"fw.u01", "fw.u02"})
                            << "1: <dir>/fw.u01,\n2: <dir>/fw.u02" << QStringList();
    QTest::newRow("a pair, second first") << QStringList({"fw.u02", "fw.u01"})
                                          << "1: <dir>/fw.u01,\n2: <dir>/fw.u02" << QStringList();
    QTest::newRow("not an upgrade file")
        << QStringList({"notes.txt"}) << "" << QStringList({"Invalid File"});
    QTest::newRow("a .u01 with the wrong second")
        << QStringList({"fw.u01", "fw.uuc"}) << "" << QStringList({"Invalid Second File"});
  }
  void dropChoosesFiles() {
    QFETCH(QStringList, names);
    QFETCH(QString, shown);
    QFETCH(QStringList, messages);
    DialogHarness harness;
    const QString dir = QString::fromStdString(harness.dir().string());
    QList<QUrl> urls;
    for (const QString& name : names) {
      urls << QUrl::fromLocalFile(harness.WriteImage(name.toStdString(), kTypeSingle, 10));
    }
    auto* mime = new QMimeData;
    mime->setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&harness.dialog(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&harness.dialog(), &drop);
    delete mime;
    QCOMPARE(harness.FieldText(1006), QString(shown).replace("<dir>", dir));
    // Says the boxes' texts when they differ, not only how many there were.
    QVERIFY2(harness.presenter().texts() == messages,
             qPrintable(harness.presenter().texts().join(u'|')));
    QVERIFY(harness.chooser().questions().empty());
  }
};

}  // namespace irdload::ui::test

QTEST_MAIN(irdload::ui::test::OperatorTest)
#include "OperatorTest.moc"
