// What the station window shows at a glance: each socket's state as a colour, a shape and a word
// (apart also in grey), the tiles in as many columns as the width holds with no sideways
// scrolling, and the keyboard focus staying on the tile whose Stop was pressed.
#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <cstdlib>
#include <filesystem>

#include "engine/Image.h"
#include "engine/ImageWriter.h"
#include "harness/DialogHarness.h"
#include "harness/ScriptedChooser.h"
#include "support/TempDir.h"
#include "ui/StateBadge.h"
#include "ui/StationTile.h"
#include "ui/StationWindow.h"
#include "ui/TileGrid.h"

namespace irdload::ui::test {
namespace {

using station::PortPhase;

struct Bench {
  Bench(std::uint32_t baud, std::size_t payload) {
    namespace fs = std::filesystem;
    fs::create_directories(temp.path() / "sys" / "class" / "tty");
    fs::create_directories(temp.path() / "dev");
    image = temp.WriteBytes("fw.uuc", ComposeImage(kTypeSingle, PatternPayload(payload, 3)));
    StationWindow::Options o;
    o.presenter = std::make_shared<CapturingPresenter>();
    o.chooser = std::make_shared<ScriptedChooser>();
    o.confirm = [](QWidget*, const QString&) { return true; };
    o.inventory = {temp.path() / "sys", temp.path() / "dev"};
    o.virtualIrd.baud = baud;
    window = std::make_unique<StationWindow>(std::move(o));
  }
  irdload::test::TempDir temp;
  std::string image;
  std::unique_ptr<StationWindow> window;  // last: goes first
};

station::LastUnit Last(bool loaded, OutcomeKind kind) {
  station::LastUnit last;
  last.unit = 1;
  last.loaded = loaded;
  last.outcome.kind = kind;
  return last;
}

// The badge drawn alone, in grey.
QImage GreyBadge(TileLook look, const QString& word) {
  StateBadge badge;
  badge.Show(look, word);
  badge.resize(badge.sizeHint());
  return badge.grab().toImage().convertToFormat(QImage::Format_Grayscale8);
}

}  // namespace

class StationLookTest : public QObject {
  Q_OBJECT

 private slots:
  void eachStateHasItsLook_data() {
    QTest::addColumn<int>("phase");
    QTest::addColumn<int>("last");  // -1 none, else 0 loaded, 1 failed, 2 stopped
    QTest::addColumn<int>("look");
    QTest::addColumn<QString>("word");
    const auto row = [](const char* name, PortPhase phase, int last, TileLook look,
                        const char* word) {
      QTest::newRow(name) << static_cast<int>(phase) << last << static_cast<int>(look)
                          << QString::fromUtf8(word);
    };
    row("calling", PortPhase::Calling, -1, TileLook::Loading, "Loading");
    row("transferring", PortPhase::Transferring, 0, TileLook::Loading, "Loading");
    row("after a loaded unit", PortPhase::WaitingForNextUnit, 0, TileLook::Loaded, "Loaded");
    row("after a failed unit", PortPhase::WaitingForNextUnit, 1, TileLook::Failed, "Failed");
    row("after a stopped unit", PortPhase::WaitingForNextUnit, 2, TileLook::Stopped, "Stopped");
    row("before the first unit", PortPhase::WaitingForNextUnit, -1, TileLook::WaitingForUnit,
        "Waiting");
    row("waiting for an id", PortPhase::WaitingForUnitId, 0, TileLook::WaitingForUnit, "Waiting");
    row("no adapter", PortPhase::WaitingForAdapter, 0, TileLook::WaitingForAdapter, "No adapter");
    row("halted", PortPhase::Halted, 0, TileLook::Failed, "Failed");
    row("port stopped", PortPhase::Done, 0, TileLook::Stopped, "Stopped");
  }
  void eachStateHasItsLook() {
    QFETCH(int, phase);
    QFETCH(int, last);
    QFETCH(int, look);
    QFETCH(QString, word);
    station::PortSnapshot r;
    r.phase = static_cast<PortPhase>(phase);
    if (last == 0) r.last.emplace(Last(true, OutcomeKind::Success));
    if (last == 1) r.last.emplace(Last(false, OutcomeKind::Failed));
    if (last == 2) r.last.emplace(Last(false, OutcomeKind::Stopped));
    const TileTexts t =
        DescribeRow(r, station::NextUnit::Prompt, 1, std::chrono::steady_clock::now());
    QCOMPARE(static_cast<int>(t.look), look);
    QCOMPARE(t.word, word);
    // The tile shows it: the badge and the progress bar in the look's colour.
    StationTile tile(QStringLiteral("COM1"), QStringLiteral("/dev/ttyS0"));
    tile.Show(t, r, true);
    QCOMPARE(static_cast<int>(tile.badge()->look()), look);
    QCOMPARE(tile.badge()->word(), word);
  }

  // An operator who sees no colour tells the states apart by the shape alone: every badge,
  // drawn with the same word and turned grey, differs from every other.
  void looksDifferInGreyByShape() {
    const TileLook looks[] = {
        TileLook::Loading,           TileLook::Loaded,        TileLook::Failed, TileLook::Stopped,
        TileLook::WaitingForAdapter, TileLook::WaitingForUnit};
    std::vector<QImage> grey;
    for (TileLook look : looks) grey.push_back(GreyBadge(look, QStringLiteral("Unit")));
    for (std::size_t a = 0; a < grey.size(); ++a) {
      for (std::size_t b = a + 1; b < grey.size(); ++b) {
        QVERIFY2(grey[a] != grey[b], qPrintable(QStringLiteral("looks %1 and %2").arg(a).arg(b)));
      }
    }
    // And the colours themselves stay apart.
    for (std::size_t a = 0; a < std::size(looks); ++a) {
      for (std::size_t b = a + 1; b < std::size(looks); ++b) {
        QVERIFY(LookColour(looks[a]) != LookColour(looks[b]));
      }
    }
  }

  void columnsFollowTheWidth_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("columns");
    QTest::newRow("narrower than a tile") << 100 << 300 << 6 << 1;
    QTest::newRow("one tile") << 300 << 300 << 6 << 1;
    QTest::newRow("two less a pixel") << 605 << 300 << 6 << 1;
    QTest::newRow("two exactly") << 606 << 300 << 6 << 2;
    QTest::newRow("four") << 1300 << 300 << 6 << 4;
    QTest::newRow("six") << 1900 << 300 << 6 << 6;
  }
  void columnsFollowTheWidth() {
    QFETCH(int, width);
    QFETCH(int, minimum);
    QFETCH(int, spacing);
    QFETCH(int, columns);
    QCOMPARE(TileGrid::ColumnsFor(width, minimum, spacing), columns);
  }

  // The real window at the sizes an operator has: every tile within the width, none narrower
  // than its minimum, and where the issue asks it, every tile in sight without scrolling.
  void tilesFitTheWindow_data() {
    QTest::addColumn<int>("sockets");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("columns");  // at least
    QTest::addColumn<bool>("allInSight");
    QTest::newRow("4 at the default size") << 4 << QSize(900, 640) << 2 << true;
    QTest::newRow("8 on a laptop, maximised") << 8 << QSize(1366, 740) << 4 << true;
    QTest::newRow("8 full HD") << 8 << QSize(1920, 1050) << 4 << true;
    QTest::newRow("8 narrow") << 8 << QSize(480, 640) << 1 << false;
  }
  void tilesFitTheWindow() {
    QFETCH(int, sockets);
    QFETCH(QSize, size);
    QFETCH(int, columns);
    QFETCH(bool, allInSight);
    Bench bench(0, 3000);
    StationWindow& w = *bench.window;
    w.SetFiles({bench.image});
    w.SetVirtualIrds(sockets);
    QCOMPARE(w.tileCount(), sockets);
    w.resize(size);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* scroll = w.findChild<QScrollArea*>(QStringLiteral("tileScroll"));
    QVERIFY(scroll != nullptr);
    QTRY_COMPARE(w.grid().width(), scroll->viewport()->width());
    QVERIFY2(w.grid().columns() >= columns, qPrintable(QString::number(w.grid().columns())));
    for (int i = 0; i < w.tileCount(); ++i) {
      const QRect g = w.tile(i)->geometry();
      QVERIFY2(g.right() < w.grid().width(), qPrintable(QStringLiteral("tile %1").arg(i)));
      QVERIFY(g.width() >= w.grid().tileMinimumWidth());
    }
    QVERIFY(!scroll->horizontalScrollBar()->isVisible());
    if (allInSight) {
      QVERIFY2(
          scroll->verticalScrollBar()->maximum() == 0,
          qPrintable(QStringLiteral("%1 px below").arg(scroll->verticalScrollBar()->maximum())));
    }
  }

  // Opened from the dialog, the station window comes up centred over it (on a screen with room
  // for it: this suite runs on a full HD offscreen screen).
  void stationOpensCentredOverTheDialog() {
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    if (room.width() < 1200 || room.height() < 800) {
      QSKIP("the screen is too small to centre the station window on the dialog");
    }
    DialogHarness harness;
    MainDialog& dialog = harness.dialog();
    dialog.move(room.left() + 500, room.top() + 300);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    StationWindow* station = dialog.OpenStation();
    QVERIFY(QTest::qWaitForWindowExposed(station));
    const QPoint offset = station->frameGeometry().center() - dialog.frameGeometry().center();
    // Within the window frame's few pixels.
    QVERIFY2(std::abs(offset.x()) <= 4 && std::abs(offset.y()) <= 4,
             qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
    QVERIFY(room.contains(station->frameGeometry()));
  }

  // Stop pressed from the keyboard: once the unit has stopped the focus is still on that tile,
  // so that a second Space stops nothing, least of all the neighbour's unit.
  void focusStaysOnTheStoppedTile() {
    Bench bench(115200, 200000);  // paced: the units load for a good while
    StationWindow& w = *bench.window;
    w.SetFiles({bench.image});
    w.SetVirtualIrds(3);
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.StartAll();
    for (int i = 0; i < 3; ++i) {
      QTRY_VERIFY_WITH_TIMEOUT(w.tile(i)->stopButton()->isEnabled(), kWaitMs);
    }
    StationTile* stopped = w.tile(1);
    stopped->stopButton()->setFocus();
    QTest::keyClick(stopped->stopButton(), Qt::Key_Space);
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(stopped->badge()->look()),
                              static_cast<int>(TileLook::Stopped), kWaitMs);
    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus != nullptr);
    QVERIFY2(focus == stopped || stopped->isAncestorOf(focus), qPrintable(focus->objectName()));
    QTest::keyClick(focus, Qt::Key_Space);
    QTest::qWait(0);
    for (int i : {0, 2}) {
      QVERIFY(w.tile(i)->stopButton()->isEnabled());
      QCOMPARE(static_cast<int>(w.tile(i)->badge()->look()), static_cast<int>(TileLook::Loading));
    }
    QCOMPARE(w.stopped(), 1u);
  }
};

}  // namespace irdload::ui::test

QTEST_MAIN(irdload::ui::test::StationLookTest)
#include "StationLookTest.moc"
