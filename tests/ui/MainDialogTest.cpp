// The main dialog at rest: its controls and texts, the port list, the elapsed clock, the window
// menu with the About box, and how messages are shown.
#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>

#include "harness/DialogHarness.h"
#include "ui/AboutDialog.h"

namespace irdload::ui::test {
class MainDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { harness_ = std::make_unique<DialogHarness>(); }
  void cleanup() { harness_.reset(); }

  void initialTexts_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("text");
    const std::pair<const char*, const char*> rows[] = {
        {"button_1", "OK"},
        {"button_1009", "Отмена"},
        {"field_1007", "0"},
        {"button_1001", "Получить файл от IRD"},
        {"button_1002", "Отправить файл в IRD"},
        {"label_1004", "Файл отправки"},
        {"button_1003", "Открыть"},
        {"label_port", "Порт"},
        {"field_1008", "00:00"},
        {"field_1010", ""},
        {"field_1011", "0"},
        {"field_1012", "0"},
        {"field_1013", ""},
        {"field_1014", "0"},
        {"label_elapsed", "Прошло"},
        {"label_total", "Всего"},
        {"label_1017", "Осталось"},
        {"field_1016", "00:00"},
        {"field_1006", ""},
        {"label_state", "Состояние"},
        {"label_retries", "Повторы"},
        {"label_packets", "Пакеты"},
        {"label_transferred", "Передано"},
        {"label_bytes_sent_unit", "Байт"},
        {"label_total_unit", "Байт"},
        {"label_ack", "Ack"},
    };
    for (const auto& [control, text] : rows) {
      QTest::newRow(control) << QString::fromLatin1(control) << QString::fromUtf8(text);
    }
  }
  void initialTexts() {
    QFETCH(QString, control);
    QFETCH(QString, text);
    QWidget* widget = harness_->dialog().findChild<QWidget*>(control);
    QVERIFY2(widget != nullptr, qPrintable(control));
    QCOMPARE(widget->property("text").toString(), text);
  }

  void windowAndControlsAtStart() {
    MainDialog& dialog = harness_->dialog();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Zembrin 1.0"));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(
        !(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(dialog.windowIcon().availableSizes().contains(QSize(32, 32)));
    QVERIFY(dialog.windowIcon().availableSizes().contains(QSize(16, 16)));

    QPushButton* receive = harness_->Button(1001);
    QVERIFY(receive->isHidden());
    QVERIFY(!receive->isEnabled());
    QVERIFY(harness_->Button(1)->isDefault());
    QVERIFY(harness_->Ports()->isEditable());
    QVERIFY(harness_->Field(1006)->wordWrap());
    QCOMPARE(harness_->Progress()->value(), 0);

    // The progress bar is drawn in blocks with gaps between them, not as one smooth bar: along
    // its middle, the filled half changes colour many times.
    QProgressBar* bar = harness_->Progress();
    bar->setRange(0, 100);
    bar->setValue(50);
    const QImage picture = bar->grab().toImage();
    const QColor filled = bar->palette().color(QPalette::Highlight);
    int blocks = 0;
    bool inBlock = false;
    for (int x = 0; x < picture.width() / 2; ++x) {
      const bool now = picture.pixelColor(x, picture.height() / 2) == filled;
      if (now && !inBlock) ++blocks;
      inBlock = now;
    }
    QVERIFY2(blocks >= 5, qPrintable(QString::number(blocks)));
    bar->setValue(0);

    // The tab order is the order of the controls: OK, Отмена, port list, the send button, Открыть.
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QWidget* first = harness_->Button(1);
    QCOMPARE(QApplication::focusWidget(), first);  // the first tab stop has the focus at start
    QStringList order;
    QWidget* at = first;
    do {
      order << at->objectName();
      at = at->nextInFocusChain();
      // Controls only: the port list's own edit field is part of the port list.
      while (at->parentWidget() != &dialog || !(at->focusPolicy() & Qt::TabFocus) ||
             !at->isVisibleTo(&dialog) || !at->isEnabled()) {
        at = at->nextInFocusChain();
      }
    } while (at != first && order.size() < 20);
    QCOMPARE(order,
             QStringList({"button_1", "button_1009", "combo_1000", "button_1002", "button_1003"}));

    QCOMPARE(dialog.FirstFileName(), std::string());
    QCOMPARE(dialog.SecondFileName(), std::string());
    QVERIFY(!dialog.DownloadRunning());
    QVERIFY(!dialog.ElapsedClockRunning());
  }

  void portList_data() {
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("no serial ports") << QStringList() << QStringList();
    QTest::newRow("adapters") << QStringList({"ttyACM0", "ttyUSB0"})
                              << QStringList({"ttyUSB0", "ttyACM0"});
    // Found ports keep the inventory's order (by kind, then by number), after COM1..COM4.
    QTest::newRow("numeric order") << QStringList({"ttyACM1", "ttyUSB10", "ttyUSB2"})
                                   << QStringList({"ttyUSB2", "ttyUSB10", "ttyACM1"});
  }
  void portList() {
    QFETCH(QStringList, found);
    QFETCH(QStringList, listed);
    DialogHarness::Setup setup;
    for (const QString& tty : found) setup.foundTtys.push_back(tty.toStdString());
    DialogHarness harness(setup);

    QStringList expected = {"COM1", "COM2", "COM3", "COM4"};
    for (const QString& tty : listed) expected << harness.DevicePath(tty.toStdString());
    expected << QStringLiteral("Virtual IRD");
    QStringList items;
    for (int i = 0; i < harness.Ports()->count(); ++i) items << harness.Ports()->itemText(i);
    QCOMPARE(items, expected);
    QCOMPARE(harness.Ports()->currentIndex(), 0);
    QCOMPARE(harness.dialog().SelectedPortIndex(), 0);
  }

  void clockTicks_data() {
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QString>("shown");
    QTest::newRow("one second") << 1 << "00:01";
    QTest::newRow("end of the first minute") << 59 << "00:59";
    QTest::newRow("a minute") << 60 << "01:00";
    QTest::newRow("a minute and a second") << 61 << "01:01";
    QTest::newRow("last two-digit minute") << 5999 << "99:59";
    QTest::newRow("minutes are not capped") << 6000 << "100:00";
  }
  void clockTicks() {
    QFETCH(int, ticks);
    QFETCH(QString, shown);
    MainDialog& dialog = harness_->dialog();
    dialog.StartElapsedClock();
    QVERIFY(dialog.ElapsedClockRunning());
    for (int i = 0; i < ticks; ++i) dialog.OnTimer(MainDialog::kElapsedTimerId);
    QCOMPARE(harness_->FieldText(1008), shown);
  }

  void clockRestartsFromZeroAndKeepsItsLastTimeWhenStopped() {
    MainDialog& dialog = harness_->dialog();
    dialog.StartElapsedClock();
    for (int i = 0; i < 75; ++i) dialog.OnTimer(MainDialog::kElapsedTimerId);
    dialog.OnTimer(MainDialog::kElapsedTimerId + 1);  // another timer: not a clock tick
    QCOMPARE(harness_->FieldText(1008), QStringLiteral("01:15"));

    dialog.StartElapsedClock();  // the field keeps its text until the first tick
    QCOMPARE(harness_->FieldText(1008), QStringLiteral("01:15"));
    dialog.OnTimer(MainDialog::kElapsedTimerId);
    QCOMPARE(harness_->FieldText(1008), QStringLiteral("00:01"));

    dialog.StopElapsedClock();
    QVERIFY(!dialog.ElapsedClockRunning());
    QCOMPARE(harness_->FieldText(1008), QStringLiteral("00:01"));
  }

  void clockTicksOnItsTimer() {
    harness_->dialog().StartElapsedClock();
    QTRY_COMPARE_WITH_TIMEOUT(harness_->FieldText(1008), QStringLiteral("00:01"), kWaitMs);
  }

  void aboutFromTheContextMenu() {
    MainDialog& dialog = harness_->dialog();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QStringList menuTexts;
    bool lastButOneIsSeparator = false;
    QString aboutTitle;
    QStringList aboutLines;
    bool aboutHasIcon = false;
    WhenShown(
        [] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); },
        [&](QWidget* shown) {
          auto* menu = qobject_cast<QMenu*>(shown);
          if (menu == nullptr) return;
          const QList<QAction*> actions = menu->actions();
          for (QAction* a : actions) menuTexts << a->text();
          lastButOneIsSeparator = actions.size() >= 2 && actions[actions.size() - 2]->isSeparator();
          WhenShown([] { return qobject_cast<AboutDialog*>(QApplication::activeModalWidget()); },
                    [&](QWidget* about) {
                      if (about == nullptr) return;
                      aboutTitle = about->windowTitle();
                      for (const char* name : {"label_version", "label_copyright", "label_credit_1",
                                               "label_credit_2", "label_contact"}) {
                        if (auto* l = about->findChild<QLabel*>(name)) aboutLines << l->text();
                      }
                      auto* icon = about->findChild<QLabel*>("icon_128");
                      aboutHasIcon = icon != nullptr && !icon->pixmap().isNull();
                      QTest::mouseClick(about->findChild<QPushButton*>("button_1"), Qt::LeftButton);
                    });
          menu->setActiveAction(actions.last());
          QTest::keyClick(menu, Qt::Key_Return);
        });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            dialog.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&dialog, &click);

    QVERIFY(lastButOneIsSeparator);
    QVERIFY(!menuTexts.isEmpty());
    QCOMPARE(menuTexts.last(), QStringLiteral("&About Zembrin..."));
    QCOMPARE(aboutTitle, QStringLiteral("About Zembrin"));
    QCOMPARE(aboutLines.size(), 5);
    QCOMPARE(aboutLines.first(), QStringLiteral("Zembrin Version 1.0"));
    for (const QString& line : aboutLines) QVERIFY(!line.isEmpty());
    QVERIFY(aboutHasIcon);
    QVERIFY(QApplication::activeModalWidget() == nullptr ||
            QApplication::activeModalWidget() == &dialog);
    QVERIFY(dialog.isVisible());
  }

  void aboutClosesWithEscape() {
    MainDialog& dialog = harness_->dialog();
    bool opened = false;
    WhenShown([] { return qobject_cast<AboutDialog*>(QApplication::activeModalWidget()); },
              [&](QWidget* about) {
                if (about == nullptr) return;
                opened = true;
                QTest::keyClick(about, Qt::Key_Escape);
              });
    dialog.OnSysCommand(MainDialog::kAboutCommandId);  // returns once the box has closed
    QVERIFY(opened);
  }

  // The start-up open of "COM1" is looked for where the port list looks: the harness's folder.
  void startUpSaysWhenComOneDoesNotOpen() {
    QVERIFY(harness_->presenter().texts().isEmpty());  // its COM1 is a pseudo-terminal
    DialogHarness::Setup setup;
    setup.com1 = false;
    DialogHarness without(setup);
    QCOMPARE(without.presenter().texts(), QStringList({QStringLiteral("COM1 Open Error!")}));
    const QString device = QString::fromStdString((without.dir() / "dev" / "ttyS0").string());
    QVERIFY2(without.presenter().shown().front().detail.contains(device),
             qPrintable(without.presenter().shown().front().detail));
  }

  void messagesAreWarningsCaptionedWithTheProgramName() {
    harness_->ClickOpen({harness_->PathOf("firmware.bin")});
    QCOMPARE(harness_->presenter().shown().size(), std::size_t{1});
    const OperatorMessage& box = harness_->presenter().shown().front();
    QCOMPARE(box.text, QStringLiteral("Invalid File"));
    QCOMPARE(box.caption, QStringLiteral(IRDLOAD_TEST_PROGRAM));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QVERIFY(box.detail.isEmpty());
  }

 private:
  std::unique_ptr<DialogHarness> harness_;
};

}  // namespace irdload::ui::test

QTEST_MAIN(irdload::ui::test::MainDialogTest)
#include "MainDialogTest.moc"
