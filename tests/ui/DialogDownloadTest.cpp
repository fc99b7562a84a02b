// Downloads driven through the real dialog: the port a start opens, whole downloads through the
// "Virtual IRD" entry, stopping with "Открыть", closing the window mid-download, and the About box
// while a download runs.
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/ImageWriter.h"
#include "harness/DialogHarness.h"
#include "ui/AboutDialog.h"
#include "ui/HeadlessSend.h"

namespace irdload::ui::test {

namespace {

const QString kCancel = QStringLiteral("<cancel>");
const QString kSuccess = QStringLiteral("Download end successfully.");

// An IRD that goes quiet after accepting the first packet, so that a download stays in the
// middle, waiting for an answer, for as long as the test needs.
DialogHarness::Setup StuckAfterFirstPacket() {
  DialogHarness::Setup setup;
  // Reply bytes: 0xE2, 0xE3, 0xE4, 0xE7, 0xE8 (packet 0), 0xE7, then nothing.
  setup.virtualIrd.faults = {{sim::FaultKind::SilentFrom, 6}};
  return setup;
}

// Waits, without running the event loop, until the worker has queued `count` calls.
bool WaitForQueuedWorkerCalls(const MainDialog& dialog, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (dialog.PendingWorkerCalls() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace

class DialogDownloadTest : public QObject {
  Q_OBJECT

 private slots:
  void startOpensTheSelectedPort_data() {
    QTest::addColumn<QString>("port");  // "" for no selection
    QTest::addColumn<QString>("opened");
    // The harness's device folder has no ttyS2 and no ttyUSB0, so each open fails and says so.
    QTest::newRow("COM3") << "COM3"
                          << "COM3";
    QTest::newRow("no selection") << ""
                                  << "COM0";
    QTest::newRow("found adapter") << "<dev>/ttyUSB0"
                                   << "<dev>/ttyUSB0";
  }
  void startOpensTheSelectedPort() {
    QFETCH(QString, port);
    QFETCH(QString, opened);
    DialogHarness::Setup setup;
    setup.foundTtys = {"ttyUSB0"};
    DialogHarness harness(setup);
    const QString dev = QString::fromStdString((harness.dir() / "dev").string());
    harness.ClickOpen({harness.WriteImage("image.uuc", kTypeSingle, 100)});
    if (port.isEmpty()) {
      harness.Ports()->setCurrentIndex(-1);
    } else {
      harness.SelectPort(QString(port).replace("<dev>", dev));
    }
    harness.presenter().clear();

    harness.ClickSend();
    // The start reopens the port on the dialog's thread and says at once why it failed.
    QCOMPARE(harness.presenter().texts(),
             QStringList({QString(opened).replace("<dev>", dev) + " Open Error!"}));
    QVERIFY(!harness.presenter().shown().front().detail.isEmpty());
  }

  void wholeDownloadThroughTheVirtualIrd() {
    DialogHarness harness;
    constexpr std::uint32_t kPayloadBytes = 20000;  // 20 packets, the last one short
    harness.ClickOpen({harness.WriteImage("image.uuc", kTypeSingle, kPayloadBytes)});
    harness.SelectVirtualIrd();
    harness.presenter().clear();
    QSignalSpy positions(harness.Progress(), &QProgressBar::valueChanged);

    harness.ClickSend();
    QCOMPARE(harness.FieldText(1014), QStringLiteral("20000"));
    QCOMPARE(harness.FieldText(1016),
             QString::fromStdString(FormatMinutesSeconds(EstimateSeconds(kPayloadBytes, 19))));
    QCOMPARE(harness.Progress()->maximum(), 20);

    QTRY_VERIFY_WITH_TIMEOUT(!harness.presenter().shown().empty(), kWaitMs);
    QCOMPARE(harness.presenter().texts(), QStringList({kSuccess}));
    QCOMPARE(harness.presenter().shown().front().caption, QStringLiteral(IRDLOAD_TEST_PROGRAM));
    QTRY_VERIFY_WITH_TIMEOUT(!harness.dialog().DownloadRunning(), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!harness.dialog().ElapsedClockRunning(), kWaitMs);

    QCOMPARE(harness.FieldText(1010), kSuccess);
    QCOMPARE(harness.FieldText(1013), QStringLiteral("0xeb"));
    QCOMPARE(harness.FieldText(1012), QStringLiteral("0"));
    // After the last packet the engine's packet number is back at 0.
    QCOMPARE(harness.FieldText(1011), QStringLiteral("0"));
    QCOMPARE(harness.FieldText(1007), QStringLiteral("0"));
    QList<int> seen;
    for (const QList<QVariant>& signal : positions) seen << signal.at(0).toInt();
    QList<int> expected;
    for (int packet = 1; packet < 20; ++packet) expected << packet;
    expected << 0;
    QCOMPARE(seen, expected);
  }

  // The pair's second file is gone by the time the first has gone over (it was there when the
  // start checked it), so the worker asks the operator, through the dialog, for the files again.
  void workerAsksForAMissingSecondFile() {
    DialogHarness harness;
    const QString first = harness.WriteImage("fw.u01", kTypeFirstOfPair, 3000, 1);
    const QString gone = harness.WriteImage("gone.u02", kTypeSecondOfPair, 2000, 3);
    const QString second = harness.WriteImage("fw2.u02", kTypeSecondOfPair, 2500, 2);
    harness.ClickOpen({first, gone});
    harness.SelectVirtualIrd();
    harness.presenter().clear();
    harness.chooser().Answer(first);
    harness.chooser().Answer(second);

    harness.ClickSend();
    QVERIFY(QFile::remove(gone));
    QTRY_VERIFY_WITH_TIMEOUT(!harness.presenter().shown().empty(), kWaitMs);
    QCOMPARE(harness.presenter().texts(), QStringList({kSuccess}));
    QCOMPARE(harness.chooser().questions().size(), std::size_t{4});
    QCOMPARE(harness.chooser().questions()[3].title, QStringLiteral("Select Second File"));
    QCOMPARE(harness.FieldText(1006), "1: " + first + ",\n2: " + second);
    QCOMPARE(harness.FieldText(1014), QStringLiteral("2500"));
  }

  void openDuringADownload_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("stops");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("new choice") << "<dir>/next.uuc" << true << QStringList();
    QTest::newRow("refused choice") << "<dir>/next.bin" << true << QStringList({"Invalid File"});
    QTest::newRow("cancelled") << kCancel << false << QStringList();
  }
  void openDuringADownload() {
    QFETCH(QString, answer);
    QFETCH(bool, stops);
    QFETCH(QStringList, messages);
    DialogHarness harness(StuckAfterFirstPacket());
    harness.ClickOpen({harness.WriteImage("image.uuc", kTypeSingle, 20000)});
    harness.SelectVirtualIrd();
    harness.presenter().clear();
    harness.ClickSend();
    QTRY_VERIFY_WITH_TIMEOUT(harness.Progress()->value() >= 1, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!harness.FieldText(1010).isEmpty(), kWaitMs);
    // A whole pass of the waiting worker (its status line, then its retry count) is queued and
    // not yet shown when "Открыть" is pressed.
    QVERIFY(WaitForQueuedWorkerCalls(harness.dialog(), 2));

    const QString dir = QString::fromStdString(harness.dir().string());
    harness.ClickOpen({answer == kCancel
                           ? std::nullopt
                           : std::optional<QString>(QString(answer).replace("<dir>", dir))});
    QCOMPARE(harness.dialog().DownloadRunning(), !stops);
    if (stops) {
      QCOMPARE(harness.FieldText(1010), QString());
      // What the worker wrote before it stopped is still queued; none of it brings the status
      // back or restarts the clock.
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents();
      QCOMPARE(harness.FieldText(1010), QString());
      QVERIFY(!harness.dialog().ElapsedClockRunning());
    } else {
      // Cancelling empties the names but leaves the download running.
      QCOMPARE(harness.dialog().FirstFileName(), std::string());
      QTRY_VERIFY_WITH_TIMEOUT(harness.FieldText(1012) != QStringLiteral("0"), kWaitMs);
      QVERIFY(!harness.FieldText(1010).isEmpty());
    }
    QCOMPARE(harness.presenter().texts(), messages);
  }

  // Every way of ending the dialog while an IRD takes an image asks first; "No" keeps the
  // download going, "Yes" ends it. Idle, the dialog ends at once without a question.
  void endingAsksMidDownload_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("downloading");
    QTest::addColumn<bool>("answer");  // the operator's answer, when asked
    QTest::addColumn<int>("result");
    const struct {
      const char* name;
      const char* how;
      int result;
    } ways[] = {
        {"OK", "ok", int(QDialog::Accepted)},
        {"Отмена", "cancel", int(QDialog::Rejected)},
        {"Enter in the port list", "enter", int(QDialog::Accepted)},
        {"Escape", "escape", int(QDialog::Rejected)},
        {"window closed", "close", int(QDialog::Rejected)},
    };
    for (const auto& way : ways) {
      QTest::addRow("%s, idle", way.name) << way.how << false << false << way.result;
      QTest::addRow("%s, No", way.name) << way.how << true << false << way.result;
      QTest::addRow("%s, Yes", way.name) << way.how << true << true << way.result;
    }
  }
  void endingAsksMidDownload() {
    QFETCH(QString, how);
    QFETCH(bool, downloading);
    QFETCH(bool, answer);
    QFETCH(int, result);
    auto questions = std::make_shared<QStringList>();
    DialogHarness::Setup setup;
    // Paced like a real line: about 20 seconds for this image, so that it is still going when
    // the test is done with it.
    setup.virtualIrd.baud = DownloadEngine::kBaud;
    setup.confirm = [questions, answer](QWidget*, const QString& question) {
      *questions << question;
      return answer;
    };
    auto harness = std::make_unique<DialogHarness>(setup);
    MainDialog& dialog = harness->dialog();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    harness->ClickOpen({harness->WriteImage("image.uuc", kTypeSingle, 200000)});
    harness->SelectVirtualIrd();
    harness->presenter().clear();
    if (downloading) {
      harness->ClickSend();
      QTRY_VERIFY_WITH_TIMEOUT(harness->Progress()->value() >= 2, kWaitMs);
    }
    QSignalSpy finished(&dialog, &QDialog::finished);

    if (how == "ok") QTest::mouseClick(harness->Button(1), Qt::LeftButton);
    if (how == "cancel") QTest::mouseClick(harness->Button(1009), Qt::LeftButton);
    if (how == "enter") {
      harness->Ports()->setFocus();
      QTest::keyClick(harness->Ports(), Qt::Key_Return);
    }
    if (how == "escape") QTest::keyClick(&dialog, Qt::Key_Escape);
    if (how == "close") dialog.close();

    if (!downloading) {
      QVERIFY(questions->isEmpty());
    } else {
      QCOMPARE(questions->size(), 1);
      const QString& question = questions->front();
      QVERIFY2(question.contains(QStringLiteral("image.uuc")), qPrintable(question));
      // The progress bar counts packets.
      const QRegularExpression where(
          QStringLiteral("packet [1-9][0-9]* of %1 ").arg(harness->Progress()->maximum()));
      QVERIFY2(question.contains(where), qPrintable(question));
    }
    if (downloading && !answer) {
      QCOMPARE(finished.count(), 0);
      QVERIFY(dialog.isVisible());
      QVERIFY(dialog.DownloadRunning());
      const int at = harness->Progress()->value();
      QTRY_VERIFY_WITH_TIMEOUT(harness->Progress()->value() > at, kWaitMs);
      QVERIFY(harness->presenter().shown().empty());
    } else {
      QCOMPARE(finished.count(), 1);
      QCOMPARE(finished.front().at(0).toInt(), result);
      QVERIFY(!dialog.isVisible());
      QVERIFY(!dialog.DownloadRunning());
      QVERIFY(harness->presenter().shown().empty());
    }
    harness.reset();  // the dialog, its virtual IRD and the files go without a hang
  }

  // The question is put once: a second way of ending, while it is open, waits for its answer.
  void endingWhileAskingAsksOnce() {
    auto questions = std::make_shared<QStringList>();
    DialogHarness::Setup setup = StuckAfterFirstPacket();
    MainDialog* asked = nullptr;
    setup.confirm = [&asked, questions](QWidget*, const QString& question) {
      *questions << question;
      if (asked != nullptr) asked->reject();  // Escape again, as the box is open
      return false;
    };
    auto harness = std::make_unique<DialogHarness>(setup);
    MainDialog& dialog = harness->dialog();
    asked = &dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    harness->ClickOpen({harness->WriteImage("image.uuc", kTypeSingle, 20000)});
    harness->SelectVirtualIrd();
    harness->ClickSend();
    QTRY_VERIFY_WITH_TIMEOUT(harness->Progress()->value() >= 1, kWaitMs);
    QSignalSpy finished(&dialog, &QDialog::finished);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(questions->size(), 1);
    QCOMPARE(finished.count(), 0);
    QVERIFY(dialog.DownloadRunning());
    harness.reset();
  }

  // The worker waits on its end message while the window is closed: closing must not wait for
  // the box, and the worker must be gone before the dialog is.
  void closingWhileTheWorkerWaitsOnItsMessage() {
    auto harness = std::make_unique<DialogHarness>();
    MainDialog& dialog = harness->dialog();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    harness->ClickOpen({harness->WriteImage("image.uuc", kTypeSingle, 5000)});
    harness->SelectVirtualIrd();
    harness->presenter().clear();
    QSignalSpy finished(&dialog, &QDialog::finished);
    bool runningWhileOpen = false;
    harness->presenter().WhileNextBoxIsOpen([&] {
      runningWhileOpen = dialog.DownloadRunning();
      dialog.close();
    });

    harness->ClickSend();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kWaitMs);
    QVERIFY(runningWhileOpen);
    QCOMPARE(harness->presenter().texts(), QStringList({kSuccess}));
    QVERIFY(!dialog.DownloadRunning());
    harness.reset();
  }

  void aboutDuringADownload() {
    DialogHarness::Setup paced;
    paced.virtualIrd.baud = DownloadEngine::kBaud;  // about three seconds for 30 packets
    DialogHarness harness(paced);
    harness.ClickOpen({harness.WriteImage("image.uuc", kTypeSingle, 30000)});
    harness.SelectVirtualIrd();
    harness.presenter().clear();
    harness.ClickSend();

    bool runningWhenOpened = false;
    bool endedWhileOpen = false;
    WhenShown([] { return qobject_cast<AboutDialog*>(QApplication::activeModalWidget()); },
              [&](QWidget* about) {
                if (about == nullptr) return;
                runningWhenOpened = harness.dialog().DownloadRunning();
                endedWhileOpen =
                    QTest::qWaitFor([&] { return !harness.presenter().shown().empty(); }, kWaitMs);
                QTest::keyClick(about, Qt::Key_Escape);
              });
    harness.dialog().windowMenu()->actions().last()->trigger();

    QVERIFY(runningWhenOpened);
    QVERIFY(endedWhileOpen);
    QCOMPARE(harness.presenter().texts(), QStringList({kSuccess}));
    QCOMPARE(harness.FieldText(1010), kSuccess);
  }

  // The benchmark's headless mode: the dialog sends a file on a named line and says how it went.
  void headlessSendThroughANamedPort() {
    sim::VirtualIrd ird({});
    std::string why;
    QVERIFY2(ird.Start(&why), why.c_str());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.uuc"));
    const auto payload = PatternPayload(5000);
    const auto bytes = ComposeImage(kTypeSingle, payload);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    file.close();
    QCOMPARE(RunHeadlessSend(path, QString::fromStdString(ird.SlavePath())), 0);
    const sim::Report report = ird.GetReport();
    QCOMPARE(report.files.size(), std::size_t{1});
    QVERIFY(report.files[0].payload == payload);
  }
};

}  // namespace irdload::ui::test

QTEST_MAIN(irdload::ui::test::DialogDownloadTest)
#include "DialogDownloadTest.moc"
