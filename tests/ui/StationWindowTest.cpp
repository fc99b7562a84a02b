// The station window as an operator uses it: virtual IRDs loaded at once, one socket stopped and
// started again, unit ids from a scanner, refusals before anything starts, closing while units
// load, and the way to it from the main dialog's menu.
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <set>

#include "engine/Image.h"
#include "engine/ImageWriter.h"
#include "engine/Sha256.h"
#include "harness/DialogHarness.h"
#include "support/Json.h"
#include "support/TempDir.h"
#include "ui/StationTile.h"
#include "ui/StationWindow.h"

namespace irdload::ui::test {
namespace {

using namespace std::chrono_literals;
using station::PortPhase;

// Long enough at 115200 baud (about 2 s) that a test sees the unit loading.
constexpr std::size_t kPacedPayload = 20000;

std::vector<irdload::test::JsonValue> Records(const std::filesystem::path& folder) {
  std::vector<irdload::test::JsonValue> records;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    if (e.path().extension() != ".json") continue;
    std::ifstream in(e.path());
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (auto v = irdload::test::JsonParser(text).Parse()) records.push_back(std::move(*v));
  }
  return records;
}

// A station window on a fake port inventory, with recording prompts and its own folder.
class StationHarness {
 public:
  explicit StationHarness(std::uint32_t baud = 0, std::size_t payload = 3000) {
    namespace fs = std::filesystem;
    fs::create_directories(temp_.path() / "sys" / "class" / "tty");
    fs::create_directories(temp_.path() / "dev");
    payload_ = PatternPayload(payload, 7);
    const std::vector<std::uint8_t> image = ComposeImage(kTypeSingle, payload_);
    image_ = temp_.WriteBytes("fw.uuc", image);
    sha_ = ToHex(Sha256Of(image.data(), image.size()));
    StationWindow::Options o;
    o.presenter = presenter_;
    o.chooser = chooser_;
    o.confirm = [this](QWidget*, const QString& question) {
      questions_ << question;
      return answer_;
    };
    o.inventory = {temp_.path() / "sys", temp_.path() / "dev"};
    o.virtualIrd.baud = baud;
    window_ = std::make_unique<StationWindow>(std::move(o));
    window_->SetReportFolder(QString::fromStdString(Reports().string()));
  }

  StationWindow& window() { return *window_; }
  CapturingPresenter& presenter() { return *presenter_; }
  ScriptedChooser& chooser() { return *chooser_; }
  const std::string& image() const { return image_; }
  const std::string& sha() const { return sha_; }
  const std::vector<std::uint8_t>& payload() const { return payload_; }
  std::filesystem::path Reports() const { return temp_.path() / "reports"; }
  const std::filesystem::path& dir() const { return temp_.path(); }
  QStringList& questions() { return questions_; }
  void AnswerQuestions(bool yes) { answer_ = yes; }

  /// True when a receiver that virtual socket `n` had holds the whole image.
  bool Received(int n) const {
    for (int back = 0; back < 3; ++back) {
      const sim::Report r = window_->rack().Report(n, back);
      if (!r.files.empty() && r.files[0].payload == payload_) return true;
    }
    return false;
  }

 private:
  irdload::test::TempDir temp_;
  std::shared_ptr<CapturingPresenter> presenter_ = std::make_shared<CapturingPresenter>();
  std::shared_ptr<ScriptedChooser> chooser_ = std::make_shared<ScriptedChooser>();
  std::vector<std::uint8_t> payload_;
  std::string image_, sha_;
  QStringList questions_;
  bool answer_ = false;
  std::unique_ptr<StationWindow> window_;  // last: goes first
};

station::PortSnapshot Row(PortPhase phase) {
  station::PortSnapshot r;
  r.phase = phase;
  return r;
}

}  // namespace

class StationWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void fourVirtualIrdsLoadAtOnce() {
    StationHarness h(115200, kPacedPayload);
    h.window().SetVirtualIrds(4);
    QCOMPARE(h.window().tileCount(), 4);
    h.window().SetFiles({h.image()});
    h.window().StartAll();
    QVERIFY(h.window().running());
    QTRY_COMPARE_WITH_TIMEOUT(h.window().loading(), 4, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(h.window().loaded(), 4u, kWaitMs);
    QCOMPARE(h.window().failed(), 0u);
    for (int n = 1; n <= 4; ++n) {
      QTRY_VERIFY2_WITH_TIMEOUT(h.Received(n), qPrintable(QStringLiteral("IRD %1").arg(n)),
                                kWaitMs);
      QVERIFY(h.window().tile(n - 1)->lastText().startsWith(QStringLiteral("Last: Loaded")));
    }
    const auto records = Records(h.Reports());
    QCOMPARE(records.size(), std::size_t{4});
    std::set<std::string> ports;
    for (const auto& r : records) {
      QCOMPARE(QString::fromStdString(r["files"].items[0]["sha256"].text),
               QString::fromStdString(h.sha()));
      QVERIFY(r["loaded"].boolean);
      ports.insert(r["port"].text);
    }
    QCOMPARE(ports.size(), std::size_t{4});
    QVERIFY(h.presenter().texts().isEmpty());
  }

  void oneSocketIsStoppedAndStartedAgain() {
    StationHarness h(115200, kPacedPayload);
    h.window().SetVirtualIrds(2);
    h.window().SetFiles({h.image()});
    h.window().StartPort(1);
    StationTile* tile = h.window().tile(1);
    QTRY_VERIFY_WITH_TIMEOUT(
        tile->stopButton()->isEnabled() && tile->stateText() == QStringLiteral("Loading"), kWaitMs);
    QCOMPARE(h.window().loading(), 1);  // only the socket started
    QTest::mouseClick(tile->stopButton(), Qt::LeftButton);
    // The operator's Stop is its own count, not a failure.
    QTRY_COMPARE_WITH_TIMEOUT(h.window().stopped(), 1u, kWaitMs);
    QCOMPARE(h.window().failed(), 0u);
    QVERIFY2(h.window().summaryText().startsWith(QStringLiteral("Loaded 0 · Failed 0 · Stopped 1")),
             qPrintable(h.window().summaryText()));
    QVERIFY2(tile->lastText().startsWith(QStringLiteral("Last: Stopped")),
             qPrintable(tile->lastText()));
    QTRY_VERIFY_WITH_TIMEOUT(tile->startButton()->isEnabled(), kWaitMs);
    QVERIFY(h.window().running());
    // The next receiver goes on the socket before the operator starts it.
    QTRY_COMPARE_WITH_TIMEOUT(h.window().rack().generations(2), 2, kWaitMs);
    QTest::mouseClick(tile->startButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(h.window().loaded(), 1u, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(h.Received(2), kWaitMs);
    QCOMPARE(h.window().rack().generations(1), 1);  // the other socket never started
    const auto records = Records(h.Reports());
    QCOMPARE(records.size(), std::size_t{2});
    std::multiset<std::string> outcomes;
    for (const auto& r : records) outcomes.insert(r["outcome"].text);
    QCOMPARE(outcomes, (std::multiset<std::string>{"stopped", "success"}));
  }

  void scannedIdsNameTheUnits() {
    StationHarness h;
    h.window().SetVirtualIrds(2);
    h.window().SetFiles({h.image()});
    h.window().SetAskUnitId(true);
    h.window().StartAll();
    for (int i = 0; i < 2; ++i) {
      QTRY_COMPARE_WITH_TIMEOUT(h.window().tile(i)->stateText(),
                                QStringLiteral("Scan or type the unit's id"), kWaitMs);
    }
    QCOMPARE(h.window().loaded(), 0u);
    // A scanner types the id and Enter into the line.
    auto* line = h.window().findChild<QLineEdit*>(QStringLiteral("unitId"));
    QVERIFY(line->isEnabled());
    QTest::keyClicks(line, QStringLiteral("SN-0001"));
    QTest::keyClick(line, Qt::Key_Return);
    QVERIFY(line->text().isEmpty());
    h.window().GiveUnitId(QStringLiteral("SN-0002"));
    QTRY_COMPARE_WITH_TIMEOUT(h.window().loaded(), 2u, kWaitMs);
    std::set<std::string> ids;
    for (const auto& r : Records(h.Reports())) ids.insert(r["unitId"].text);
    QCOMPARE(ids, (std::set<std::string>{"SN-0001", "SN-0002"}));
  }

  void startIsRefusedWithAReason_data() {
    QTest::addColumn<bool>("files");
    QTest::addColumn<int>("sockets");
    QTest::addColumn<bool>("reportIsAFile");
    QTest::addColumn<QString>("message");
    QTest::newRow("no upgrade") << false << 1 << false
                                << QStringLiteral("Choose the upgrade first");
    QTest::newRow("no socket") << true << 0 << false
                               << QStringLiteral("Choose at least one socket");
    QTest::newRow("report folder is a file")
        << true << 1 << true << QStringLiteral("The station cannot start");
  }
  void startIsRefusedWithAReason() {
    QFETCH(bool, files);
    QFETCH(int, sockets);
    QFETCH(bool, reportIsAFile);
    QFETCH(QString, message);
    StationHarness h;
    h.window().SetVirtualIrds(sockets);
    if (files) h.window().SetFiles({h.image()});
    if (reportIsAFile) {
      const std::string file = (h.dir() / "not-a-folder").string();
      std::ofstream(file) << "x";
      h.window().SetReportFolder(QString::fromStdString(file));
    }
    h.window().StartAll();
    QVERIFY(!h.window().running());
    QCOMPARE(h.presenter().texts(), QStringList({message}));
    if (reportIsAFile) QVERIFY(!h.presenter().shown()[0].detail.isEmpty());
    QVERIFY(h.window().logText().contains(message));
  }

  void choosingFilesChecksThem() {
    StationHarness h;
    const QString bad = QString::fromStdString((h.dir() / "short.uuc").string());
    std::ofstream(bad.toStdString()) << "too short to be an upgrade";
    h.chooser().Answer(bad);
    QVERIFY(!h.window().ChooseFiles());
    QCOMPARE(h.presenter().shown().size(), std::size_t{1});
    h.presenter().clear();
    h.chooser().Answer(QString::fromStdString(h.image()));
    QVERIFY(h.window().ChooseFiles());
    QVERIFY(h.presenter().texts().isEmpty());
    // A pair wants its second file to be a ".u02".
    h.chooser().Answer(QString::fromStdString((h.dir() / "a.u01").string()));
    h.chooser().Answer(QString::fromStdString((h.dir() / "a.uuc").string()));
    QVERIFY(!h.window().ChooseFiles());
    QCOMPARE(h.presenter().texts(), QStringList({QStringLiteral("Invalid Second File")}));
  }

  void closingWhileAUnitLoadsAsksFirst() {
    StationHarness h(115200, kPacedPayload * 2);
    h.window().SetVirtualIrds(1);
    h.window().SetFiles({h.image()});
    h.window().show();
    h.window().StartAll();
    // Loading, not only calling: a call that no IRD answered yet would leave no record.
    QTRY_COMPARE_WITH_TIMEOUT(h.window().tile(0)->stateText(), QStringLiteral("Loading"), kWaitMs);
    QCOMPARE(h.window().loading(), 1);
    h.AnswerQuestions(false);
    QVERIFY(!h.window().close());
    QCOMPARE(h.questions().size(), 1);
    QVERIFY(h.window().isVisible());
    QVERIFY(h.window().running());
    h.AnswerQuestions(true);
    QVERIFY(h.window().close());
    QVERIFY(!h.window().running());
    const auto records = Records(h.Reports());
    QCOMPARE(records.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(records[0]["outcome"].text), QStringLiteral("stopped"));
  }

  void closingAnIdleStationAsksNothing() {
    StationHarness h;
    h.window().SetVirtualIrds(1);
    h.window().SetFiles({h.image()});
    h.window().show();
    h.window().StartAll();
    QTRY_COMPARE_WITH_TIMEOUT(h.window().loaded(), 1u, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(h.window().loading(), 0, kWaitMs);
    QVERIFY(h.window().close());
    QVERIFY(h.questions().isEmpty());
  }

  void portListFollowsTheAdapters() {
    StationHarness h;
    auto* list = h.window().findChild<QListWidget*>(QStringLiteral("ports"));
    const int before = list->count();
    std::filesystem::create_directories(h.dir() / "sys" / "class" / "tty" / "ttyUSB0");
    std::ofstream(h.dir() / "dev" / "ttyUSB0").put('\0');
    QTRY_COMPARE_WITH_TIMEOUT(list->count(), before + 1, kWaitMs);
    QVERIFY(h.window().ChoosePort(list->item(before)->text()));
    QCOMPARE(h.window().tileCount(), 1);
  }

  void tileTexts_data() {
    QTest::addColumn<int>("phase");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("files");
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("asking");
    QTest::addColumn<bool>("loading");
    const int prompt = static_cast<int>(station::NextUnit::Prompt);
    const int replug = static_cast<int>(station::NextUnit::Replug);
    QTest::newRow("first unit") << static_cast<int>(PortPhase::WaitingForNextUnit) << prompt << 1
                                << QStringLiteral("Press Start to load a unit") << true << false;
    QTest::newRow("replug") << static_cast<int>(PortPhase::WaitingForNextUnit) << replug << 1
                            << QStringLiteral(
                                   "Replug the adapter for the next unit, or press Start")
                            << true << false;
    QTest::newRow("pair") << static_cast<int>(PortPhase::Transferring) << prompt << 2
                          << QStringLiteral("Loading file 2 of 2") << false << true;
    QTest::newRow("calling") << static_cast<int>(PortPhase::Calling) << prompt << 1
                             << QStringLiteral("Calling the IRD") << false << true;
    QTest::newRow("no adapter") << static_cast<int>(PortPhase::WaitingForAdapter) << prompt << 1
                                << QStringLiteral("Waiting for the adapter") << false << false;
  }
  void tileTexts() {
    QFETCH(int, phase);
    QFETCH(int, mode);
    QFETCH(int, files);
    QFETCH(QString, state);
    QFETCH(bool, asking);
    QFETCH(bool, loading);
    station::PortSnapshot r = Row(static_cast<PortPhase>(phase));
    r.file = files;
    const TileTexts t = DescribeRow(r, static_cast<station::NextUnit>(mode), files,
                                    std::chrono::steady_clock::now());
    QCOMPARE(t.state, state);
    QCOMPARE(t.asking, asking);
    QCOMPARE(t.loading, loading);
  }

  void tileFiguresFromTheRow() {
    station::PortSnapshot r = Row(PortPhase::Transferring);
    const auto now = std::chrono::steady_clock::now();
    r.transferSince = now - 2s;
    r.packetsDone = 2;
    r.packets = 5;
    r.bytesDone = 2048;
    r.bytes = 4096;
    r.ok = 3;
    r.failed = 3;
    r.stopped = 2;  // of the failed
    const TileTexts t = DescribeRow(r, station::NextUnit::Prompt, 1, now);
    QCOMPARE(t.packets, QStringLiteral("Packets 2 of 5"));
    QCOMPARE(t.rate, QStringLiteral("1.0 KiB/s"));
    QCOMPARE(t.left, QStringLiteral("00:02 left"));
    QCOMPARE(t.counts, QStringLiteral("Loaded 3 · Failed 1 · Stopped 2"));
  }

  void unitEndsInAFewWords() {
    unit::UnitEnded e{};
    e.unit = 4;
    e.counted = true;
    e.final = true;
    e.outcome.kind = OutcomeKind::Success;
    QCOMPARE(DescribeEnd(e), QStringLiteral("Loaded unit 4"));
    e.unitId = "SN-9";
    e.outcome.kind = OutcomeKind::Failed;
    e.outcome.reason = FailureReason::AdapterDisconnected;
    QCOMPARE(DescribeEnd(e), QStringLiteral("Failed SN-9: the adapter was disconnected"));
    e.final = false;
    QCOMPARE(DescribeEnd(e),
             QStringLiteral("Failed SN-9: the adapter was disconnected, trying again"));
    e.counted = false;
    QCOMPARE(DescribeEnd(e), QStringLiteral("No IRD answered"));
  }

  // From the main dialog's menu, with the dialog's file choice; ending the dialog while the
  // station loads a unit asks first.
  void mainDialogOpensTheStation() {
    QStringList questions;
    bool answer = false;
    DialogHarness::Setup setup;
    setup.confirm = [&](QWidget*, const QString& q) {
      questions << q;
      return answer;
    };
    DialogHarness harness(setup);
    const QString image = harness.WriteImage("image.uuc", kTypeSingle, kPacedPayload * 2);
    harness.ClickOpen({image});
    QAction* item =
        harness.dialog().windowMenu()->findChild<QAction*>(QStringLiteral("stationAction"));
    QVERIFY(item != nullptr);
    harness.dialog().show();
    item->trigger();
    auto* station = harness.dialog().findChild<StationWindow*>();
    QVERIFY(station != nullptr);
    QVERIFY(station->isVisible());
    station->SetVirtualIrds(1);
    station->StartAll();  // the dialog's file was taken over
    QVERIFY(station->running());
    QTRY_COMPARE_WITH_TIMEOUT(station->loading(), 1, kWaitMs);
    harness.dialog().reject();
    QCOMPARE(questions.size(), 1);
    QVERIFY(harness.dialog().isVisible());
    answer = true;
    harness.dialog().reject();
    QVERIFY(!harness.dialog().isVisible());
  }
};

}  // namespace irdload::ui::test

QTEST_MAIN(irdload::ui::test::StationWindowTest)
#include "StationWindowTest.moc"
