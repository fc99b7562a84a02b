#include "ui/StationWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "dialog/PortChoices.h"
#include "engine/FileChoice.h"
#include "irdload/BuildInfo.h"
#include "station/PortSpec.h"
#include "ui/ApplicationTitle.h"
#include "ui/AskQuestion.h"
#include "ui/PortFailureText.h"
#include "ui/ProgramIcon.h"
#include "ui/QtFileChooser.h"
#include "ui/QtMessagePresenter.h"
#include "ui/StationFeed.h"
#include "ui/StationTile.h"
#include "ui/TileGrid.h"
#include "unit/UnitFiles.h"
#include "unit/UnitRun.h"

namespace irdload::ui {
namespace {

using namespace std::chrono_literals;
using station::PortPhase;

// Tiles and figures are redrawn this often at most; events other than progress wake the window
// at once.
constexpr auto kTick = 100ms;
// How long closing waits for the ports to end their units before it gives up waiting.
constexpr auto kCloseBound = 10s;

QString FromPath(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}
std::string ToPath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

bool Loading(PortPhase phase) {
  return phase == PortPhase::Calling || phase == PortPhase::SendingHeader ||
         phase == PortPhase::Transferring || phase == PortPhase::Terminating;
}

}  // namespace

StationWindow::StationWindow(Options options, QWidget* parent)
    : QWidget(parent, Qt::Window), options_(std::move(options)), rack_(options_.virtualIrd) {
  if (!options_.presenter) options_.presenter = std::make_shared<QtMessagePresenter>();
  if (!options_.chooser) options_.chooser = std::make_shared<QtFileChooser>();
  if (!options_.confirm) options_.confirm = AskQuestion;
  setWindowTitle(tr("irdload station"));
  setWindowIcon(ProgramIcon());
  setObjectName(QStringLiteral("stationWindow"));

  // What every unit gets, and where its record goes.
  files_ = new QLabel(this);
  files_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  choose_ = new QPushButton(tr("Choose..."), this);
  report_ = new QLineEdit(this);
  report_->setPlaceholderText(tr("no records"));
  browse_ = new QPushButton(tr("Browse..."), this);
  nextUnit_ = new QComboBox(this);
  nextUnit_->addItem(tr("Start button"), static_cast<int>(station::NextUnit::Prompt));
  nextUnit_->addItem(tr("Adapter replugged"), static_cast<int>(station::NextUnit::Replug));
  nextUnit_->addItem(tr("IRD quiet for 5 s"), static_cast<int>(station::NextUnit::Quiet));
  askId_ = new QCheckBox(tr("Ask for each unit's id"), this);
  unitId_ = new QLineEdit(this);
  unitId_->setObjectName(QStringLiteral("unitId"));
  unitId_->setPlaceholderText(tr("scan or type, then Enter"));

  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(files_, 1);
  fileRow->addWidget(choose_);
  auto* reportRow = new QHBoxLayout;
  reportRow->addWidget(report_, 1);
  reportRow->addWidget(browse_);
  auto* nextRow = new QHBoxLayout;
  nextRow->addWidget(nextUnit_);
  nextRow->addWidget(askId_);
  nextRow->addStretch();
  auto* form = new QFormLayout;
  form->addRow(tr("Upgrade:"), fileRow);
  form->addRow(tr("Report folder:"), reportRow);
  form->addRow(tr("Next unit:"), nextRow);
  form->addRow(tr("Unit id:"), unitId_);

  // The sockets.
  ports_ = new QListWidget(this);
  ports_->setObjectName(QStringLiteral("ports"));
  ports_->setMaximumHeight(ports_->fontMetrics().lineSpacing() * 8);
  virtualCount_ = new QSpinBox(this);
  virtualCount_->setRange(0, kMaxVirtualIrds);
  auto* portBox = new QGroupBox(tr("Sockets"), this);
  auto* portLayout = new QVBoxLayout(portBox);
  portLayout->addWidget(ports_);
  auto* virtualRow = new QHBoxLayout;
  virtualRow->addWidget(new QLabel(tr("Virtual IRDs:"), portBox));
  virtualRow->addWidget(virtualCount_);
  virtualRow->addStretch();
  portLayout->addLayout(virtualRow);

  startAll_ = new QPushButton(tr("Start all"), this);
  stopAll_ = new QPushButton(tr("Stop all"), this);
  startAll_->setObjectName(QStringLiteral("startAll"));
  startAll_->setToolTip(tr("Start the station and give every waiting socket its go"));
  stopAll_->setToolTip(tr("End every running unit now; they are counted as stopped"));
  choose_->setToolTip(tr("Choose the upgrade: a .uuc file, or a .u01 file and its .u02"));
  report_->setToolTip(tr("The folder that gets a record of every unit; empty: no records"));
  nextUnit_->setToolTip(tr("What starts a socket's next unit once one has ended"));
  unitId_->setToolTip(
      tr("A scanned or typed unit id goes to the socket that has waited longest for one"));
  virtualCount_->setToolTip(
      tr("Virtual IRDs on pseudo-terminals, to try the station without "
         "receivers"));
  stopAll_->setObjectName(QStringLiteral("stopAll"));
  auto* buttons = new QHBoxLayout;
  summary_ = new QLabel(this);
  buttons->addWidget(summary_, 1);
  buttons->addWidget(startAll_);
  buttons->addWidget(stopAll_);

  grid_ = new TileGrid(StationTile::MinimumWidth(fontMetrics()));
  grid_->setObjectName(QStringLiteral("tiles"));
  hint_ = new QLabel(tr("Choose the sockets to load on: each gets a tile here."));
  hint_->setAlignment(Qt::AlignCenter);
  hint_->setEnabled(false);
  grid_->SetPlaceholder(hint_);
  // Columns follow the width; only the rows scroll.
  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("tileScroll"));
  scroll_->setWidget(grid_);
  scroll_->setWidgetResizable(true);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setMinimumHeight(200);

  log_ = new QPlainTextEdit(this);
  log_->setObjectName(QStringLiteral("log"));
  log_->setReadOnly(true);
  log_->setMaximumBlockCount(2000);
  log_->setFixedHeight(fontMetrics().lineSpacing() * 4 + 8);

  auto* top = new QHBoxLayout;
  top->addLayout(form, 3);
  top->addWidget(portBox, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(buttons);
  layout->addWidget(scroll_, 1);
  layout->addWidget(log_);

  connect(choose_, &QPushButton::clicked, this, [this] { ChooseFiles(); });
  connect(browse_, &QPushButton::clicked, this, [this] {
    const QString folder =
        QFileDialog::getExistingDirectory(this, tr("Report folder"), report_->text());
    if (!folder.isEmpty()) SetReportFolder(folder);
  });
  connect(virtualCount_, &QSpinBox::valueChanged, this, [this](int n) { SetVirtualIrds(n); });
  connect(ports_, &QListWidget::itemChanged, this, [this] { RebuildTiles(); });
  connect(unitId_, &QLineEdit::returnPressed, this, [this] {
    GiveUnitId(unitId_->text());
    unitId_->clear();
  });
  connect(startAll_, &QPushButton::clicked, this, &StationWindow::StartAll);
  connect(stopAll_, &QPushButton::clicked, this, &StationWindow::StopAll);
  // Adapters plugged in or pulled out while the window is open: the list follows.
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { FillPorts(); });

  std::vector<unit::CheckedFile> checked;
  if (options_.files.empty()) {
    SetFiles({});
  } else if (const std::optional<Refusal> refusal = unit::CheckUnitFiles(options_.files, checked)) {
    Log(QString::fromStdString(refusal->message) +
        (refusal->detail.empty() ? QString() : QStringLiteral(": ") + FromPath(refusal->detail)));
    SetFiles({});
  } else {
    SetFiles(options_.files);
  }
  report_->setText(FromPath(options_.reportDir));
  FillPorts();
  if (options_.virtualIrds > 0) virtualCount_->setValue(options_.virtualIrds);
  UpdateControls();
  resize(900, 640);
}

StationWindow::~StationWindow() {
  EndStation();
}

bool StationWindow::ChooseFiles() {
  const QString start = options_.files.empty() ? QString() : FromPath(options_.files.front());
  const std::optional<QString> first =
      options_.chooser->Choose(this, {QStringLiteral("Select File"), start});
  if (!first) return false;
  std::vector<std::string> files{WithDefaultExtension(ToPath(*first))};
  const std::string extension = FileExtension(files[0]);
  if (extension == "u01") {
    const std::optional<QString> second =
        options_.chooser->Choose(this, {QStringLiteral("Select Second File"), FromPath(files[0])});
    if (!second) return false;
    files.push_back(WithDefaultExtension(ToPath(*second)));
    if (FileExtension(files[1]) != "u02") {
      Message(QStringLiteral("Invalid Second File"), {});
      return false;
    }
  } else if (extension != "uuc") {
    Message(QStringLiteral("Invalid File"), {});
    return false;
  }
  // Checked now, so that a file that cannot be sent is known before the units are on the bench.
  std::vector<unit::CheckedFile> checked;
  if (const std::optional<Refusal> refusal = unit::CheckUnitFiles(files, checked)) {
    Message(QString::fromStdString(refusal->message), QString::fromStdString(refusal->detail));
    return false;
  }
  SetFiles(std::move(files));
  return true;
}

void StationWindow::SetFiles(std::vector<std::string> files) {
  options_.files = std::move(files);
  files_->setText(
      options_.files.empty()
          ? tr("(none)")
          : FromPath(ChosenFilesText(options_.files[0],
                                     options_.files.size() > 1 ? options_.files[1] : "")));
  UpdateControls();
}

void StationWindow::SetReportFolder(const QString& folder) {
  report_->setText(folder);
}

void StationWindow::SetNextUnit(station::NextUnit mode) {
  nextUnit_->setCurrentIndex(nextUnit_->findData(static_cast<int>(mode)));
}

void StationWindow::SetAskUnitId(bool ask) {
  askId_->setChecked(ask);
}

void StationWindow::SetVirtualIrds(int count) {
  if (running()) return;
  count = std::clamp(count, 0, kMaxVirtualIrds);
  const int before = rack_.count();
  std::string error;
  if (!rack_.Resize(count, &error)) {
    Message(tr("Cannot start a virtual IRD"), QString::fromStdString(error));
  }
  if (virtualCount_->value() != rack_.count()) {
    const QSignalBlocker quiet(virtualCount_);
    virtualCount_->setValue(rack_.count());
  }
  FillPorts();
  // New virtual IRDs are meant to be used: they come chosen.
  for (Socket& s : sockets_) {
    if (s.virtualIrd > before) s.item->setCheckState(Qt::Checked);
  }
}

bool StationWindow::ChoosePort(const QString& label, bool chosen) {
  for (Socket& s : sockets_) {
    if (s.label == label) {
      s.item->setCheckState(chosen ? Qt::Checked : Qt::Unchecked);
      return true;
    }
  }
  return false;
}

void StationWindow::FillPorts() {
  // udev makes the device node first and its stable links after it.
  const std::filesystem::path serial = options_.inventory.dev / "serial";
  for (const auto& folder :
       {options_.inventory.dev, serial, serial / "by-id", serial / "by-path"}) {
    std::error_code ec;
    const QString path = FromPath(folder.string());
    if (std::filesystem::is_directory(folder, ec) && !watcher_.directories().contains(path)) {
      watcher_.addPath(path);
    }
  }
  if (running()) return;  // the tiles stand for the sockets the station serves
  std::vector<QString> chosen;
  for (const Socket& s : sockets_) {
    if (s.item->checkState() == Qt::Checked) chosen.push_back(s.label);
  }
  std::vector<Socket> sockets;
  for (const PortChoice& choice : ListPortChoices(options_.inventory, options_.extraPorts)) {
    if (choice.kind == PortChoice::Kind::kVirtualIrd) continue;
    std::string error;
    const std::optional<station::PortSpec> spec = station::ParsePortSpec(choice.label, &error);
    if (!spec) continue;
    sockets.push_back({FromPath(choice.label), spec->path, FromPath(choice.details), 0, nullptr});
  }
  for (int n = 1; n <= rack_.count(); ++n) {
    sockets.push_back({QStringLiteral("Virtual IRD %1").arg(n), rack_.Link(n),
                       tr("A virtual IRD on a pseudo-terminal"), n, nullptr});
  }
  const QSignalBlocker quiet(ports_);
  ports_->clear();
  for (Socket& s : sockets) {
    s.item = new QListWidgetItem(s.label, ports_);
    s.item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    s.item->setToolTip(s.details);
    const bool wasChosen = std::find(chosen.begin(), chosen.end(), s.label) != chosen.end();
    s.item->setCheckState(wasChosen ? Qt::Checked : Qt::Unchecked);
  }
  sockets_ = std::move(sockets);
  RebuildTiles();
}

std::vector<std::size_t> StationWindow::ChosenSockets() const {
  std::vector<std::size_t> chosen;
  for (std::size_t i = 0; i < sockets_.size(); ++i) {
    if (sockets_[i].item->checkState() == Qt::Checked) chosen.push_back(i);
  }
  return chosen;
}

void StationWindow::RebuildTiles() {
  if (running()) return;
  const std::vector<std::size_t> chosen = ChosenSockets();
  std::vector<QString> labels;
  for (std::size_t i : chosen) labels.push_back(sockets_[i].label);
  std::vector<QString> shown;
  for (std::size_t i : tileSockets_)
    shown.push_back(i < sockets_.size() ? sockets_[i].label : QString());
  if (labels == shown && tiles_.size() == chosen.size()) {
    tileSockets_ = chosen;
    return;
  }
  grid_->SetTiles({});
  for (StationTile* t : tiles_) delete t;
  tiles_.clear();
  tileSockets_ = chosen;
  for (std::size_t k = 0; k < chosen.size(); ++k) {
    const Socket& s = sockets_[chosen[k]];
    auto* t = new StationTile(s.label, s.virtualIrd > 0 ? tr("pseudo-terminal") : FromPath(s.path));
    t->setObjectName(QStringLiteral("tile%1").arg(k));
    const int index = static_cast<int>(k);
    connect(t, &StationTile::startClicked, this, [this, index] { StartPort(index); });
    connect(t, &StationTile::stopClicked, this, [this, index] { StopPort(index); });
    tiles_.push_back(t);
  }
  grid_->SetTiles({tiles_.begin(), tiles_.end()});
  UpdateControls();
}

QString StationWindow::tileLabel(int i) const {
  const std::size_t s = tileSockets_[static_cast<std::size_t>(i)];
  return sockets_[s].label;
}

bool StationWindow::StartStation() {
  if (running()) return true;
  if (tiles_.empty()) {
    Message(tr("Choose at least one socket"), {});
    return false;
  }
  if (options_.files.empty()) {
    Message(tr("Choose the upgrade first"), {});
    return false;
  }
  station::StationOptions o;
  for (std::size_t i : tileSockets_)
    o.ports.push_back({ToPath(sockets_[i].label), sockets_[i].path});
  o.files = options_.files;
  o.reportDir = ToPath(report_->text().trimmed());
  runMode_ = static_cast<station::NextUnit>(nextUnit_->currentData().toInt());
  o.nextUnit = runMode_;
  o.quiet = 5s;
  o.askUnitId = askId_->isChecked();
  o.armFirst = false;  // every unit waits for its go: a start button, a scan
  o.roots = options_.inventory;
  o.toolVersion = std::string("irdload ") + build::kVersion;
  auto st = std::make_unique<station::Station>(std::move(o));
  std::string error;
  if (!st->Start(&error)) {
    Message(tr("The station cannot start"), QString::fromStdString(error));
    return false;
  }
  station_ = std::move(st);
  snapshot_ = station_->Snapshot();
  feed_ = std::make_unique<StationFeed>(
      *station_, kTick, [this](const unit::PortEvent& e) { OnEvent(e); },
      [this](const station::StationSnapshot& s) { OnSnapshot(s); });
  connect(feed_.get(), &StationFeed::refreshed, this, &StationWindow::EndIfFinished,
          Qt::QueuedConnection);
  Log(tr("station started on %1 sockets").arg(tiles_.size()));
  UpdateControls();
  return true;
}

void StationWindow::EndStation() {
  if (!station_) return;
  feed_.reset();
  station_.reset();  // stops what still runs and joins every port
}

void StationWindow::StartAll() {
  if (!StartStation()) return;
  station_->GoAll();
  Refresh();
}

void StationWindow::StopAll() {
  if (!running()) return;
  Log(tr("stopping every socket"));
  station_->StopNow();
  Refresh();
}

void StationWindow::StartPort(int tile) {
  if (tile < 0 || tile >= tileCount()) return;
  if (!StartStation()) return;
  station_->Go(static_cast<std::size_t>(tile));
  Refresh();
}

void StationWindow::StopPort(int tile) {
  if (!running() || tile < 0 || tile >= tileCount()) return;
  station_->StopUnit(static_cast<std::size_t>(tile));
}

void StationWindow::GiveUnitId(const QString& id) {
  if (!running()) {
    Log(tr("unit id %1 ignored: the station is not running").arg(id));
    return;
  }
  station_->Give(ToPath(id.trimmed()));
  Refresh();
}

void StationWindow::Refresh() {
  if (!feed_) return;
  feed_->Refresh();
  EndIfFinished();
}

void StationWindow::OnSnapshot(const station::StationSnapshot& snapshot) {
  snapshot_ = snapshot;
  const auto now = std::chrono::steady_clock::now();
  const int files = static_cast<int>(options_.files.size());
  for (std::size_t i = 0; i < snapshot.ports.size() && i < tiles_.size(); ++i) {
    tiles_[i]->Show(DescribeRow(snapshot.ports[i], runMode_, files, now), snapshot.ports[i], true);
  }
  UpdateControls();
}

void StationWindow::EndIfFinished() {
  if (!station_ || !snapshot_.finished) return;
  // Every port has ended (Stop all, or a port that had to halt): the station is over.
  EndStation();
  Log(tr("station stopped: %1 loaded, %2 failed, %3 stopped")
          .arg(snapshot_.ok)
          .arg(snapshot_.failed - std::min(snapshot_.stopped, snapshot_.failed))
          .arg(snapshot_.stopped));
  UpdateControls();
}

void StationWindow::OnEvent(const unit::PortEvent& e) {
  if (const auto* m = std::get_if<unit::MessageShown>(&e.body); m && e.port == unit::kNoPort) {
    Log(QString::fromStdString(m->text) + QStringLiteral(": ") + FromPath(m->detail));
    return;
  }
  if (e.port >= tiles_.size()) return;
  const QString label = tileLabel(static_cast<int>(e.port));
  if (const auto* p = std::get_if<unit::PhaseChanged>(&e.body)) {
    if (p->phase == PortPhase::Halted) Log(tr("%1: halted").arg(label));
  } else if (const auto* u = std::get_if<unit::UnitStarted>(&e.body)) {
    Log(u->unitId.empty()
            ? tr("%1: unit %2 started").arg(label).arg(u->unit)
            : tr("%1: unit %2 (%3) started").arg(label).arg(u->unit).arg(FromPath(u->unitId)));
  } else if (const auto* m = std::get_if<unit::MessageShown>(&e.body)) {
    const QString detail = m->openFailure ? PortFailureText(*m->openFailure, m->detail)
                                          : QString::fromStdString(m->detail);
    Log(label + QStringLiteral(": ") + QString::fromStdString(m->text) +
        (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail));
  } else if (const auto* end = std::get_if<unit::UnitEnded>(&e.body)) {
    tiles_[e.port]->ShowEnd(*end);
    Log(label + QStringLiteral(": ") + DescribeEnd(*end));
    if (end->counted && end->final) {
      // An operator's Stop is no fault of the unit: it has its own count.
      (end->exitCode == 0                          ? loaded_
       : end->outcome.kind == OutcomeKind::Stopped ? stopped_
                                                   : failed_) += 1;
    }
    const int virtualIrd = sockets_[tileSockets_[e.port]].virtualIrd;
    if (virtualIrd > 0 && end->final) {
      // The next receiver goes on the virtual socket once the last answer has reached this one.
      QTimer::singleShot(unit::kLineSettle, this, [this, virtualIrd] {
        std::string error;
        if (!rack_.Swap(virtualIrd, &error)) Log(QString::fromStdString(error));
      });
    }
  }
}

int StationWindow::loading() const {
  if (!running()) return 0;
  return static_cast<int>(std::count_if(snapshot_.ports.begin(), snapshot_.ports.end(),
                                        [](const auto& row) { return Loading(row.phase); }));
}

void StationWindow::UpdateControls() {
  const bool run = running();
  choose_->setEnabled(!run);
  report_->setEnabled(!run);
  browse_->setEnabled(!run);
  nextUnit_->setEnabled(!run);
  askId_->setEnabled(!run);
  ports_->setEnabled(!run);
  virtualCount_->setEnabled(!run);
  unitId_->setEnabled(run);
  startAll_->setEnabled(!tiles_.empty() && !options_.files.empty());
  stopAll_->setEnabled(run);
  if (!run) {
    for (StationTile* t : tiles_) t->SetButtons(!options_.files.empty(), false);
  }
  summary_->setText(summaryText());
}

QString StationWindow::summaryText() const {
  const QString counts =
      tr("Loaded %1 · Failed %2 · Stopped %3").arg(loaded_).arg(failed_).arg(stopped_);
  return running() ? tr("%1 · %2 loading").arg(counts).arg(loading()) : counts;
}

void StationWindow::Log(const QString& line) {
  log_->appendPlainText(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss ")) + line);
}

QString StationWindow::logText() const {
  return log_->toPlainText();
}

void StationWindow::Message(const QString& text, const QString& detail) {
  Log(detail.isEmpty() ? text : text + QStringLiteral(": ") + detail);
  options_.presenter->Show(this, {ApplicationTitle(), text, detail, QMessageBox::Warning});
}

void StationWindow::closeEvent(QCloseEvent* event) {
  if (running()) {
    Refresh();
    const int n = loading();
    if (n > 0 &&
        !options_.confirm(this, n == 1 ? QStringLiteral("A unit is loading. Stop it and close the "
                                                        "station?")
                                       : QStringLiteral("%1 units are loading. Stop them and close "
                                                        "the station?")
                                             .arg(n))) {
      event->ignore();
      return;
    }
    station_->StopNow();
    // Let the ports record their stopped units before the window goes.
    const QDeadlineTimer deadline{std::chrono::milliseconds(kCloseBound)};
    while (running() && !deadline.hasExpired()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
      Refresh();
    }
    EndStation();
  }
  event->accept();
}

}  // namespace irdload::ui
