#include "ui/MainDialog.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>

#include "engine/FileChoice.h"
#include "engine/PortLink.h"
#include "serial/PortName.h"
#include "ui/AboutDialog.h"
#include "ui/ApplicationTitle.h"
#include "ui/AskQuestion.h"
#include "ui/DialogUnits.h"
#include "ui/PortFailureText.h"
#include "ui/ProgramIcon.h"
#include "ui/QtFileChooser.h"
#include "ui/QtMessagePresenter.h"
#include "ui/SegmentedBar.h"
#include "ui/StationWindow.h"
#include "ui_MainDialog.h"

namespace irdload::ui {
namespace {

std::string ToPath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}
QString FromPath(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace

static_assert(MainDialog::kElapsedTimerId == kElapsedClockKey);

// The writes themselves, onto the widgets, on the dialog's thread.
class MainDialog::Controls final : public FieldWriter {
 public:
  explicit Controls(MainDialog& dialog) : d_(dialog) {}

  void SetField(int id, const std::string& text) override {
    const auto field = d_.fields_.find(id);
    if (field != d_.fields_.end()) field->second->setText(QString::fromStdString(text));
  }
  void SetProgressRange(int lower, int upper) override {
    d_.ui_->progress_1005->setRange(lower, upper);
  }
  void SetProgressPos(int pos) override { d_.ui_->progress_1005->setValue(pos); }
  void StartElapsedClock() override {
    d_.elapsedMinutes_ = 0;
    d_.elapsedSeconds_ = 0;
    d_.elapsedTimer_.start();  // restarts a running clock: the next tick is one period away
  }
  void StopElapsedClock() override { d_.elapsedTimer_.stop(); }

 private:
  MainDialog& d_;
};

// The worker's text writes of one batch: each field takes only its last text, so that a status
// that went round the data loop and back within the batch is not painted at all. The progress
// bar takes every position, in order (Qt paints it once a batch anyway).
class MainDialog::LastWrites final : public FieldWriter {
 public:
  explicit LastWrites(Controls& controls) : controls_(controls) {}

  void SetField(int id, const std::string& text) override { fields_[id] = text; }
  void SetProgressRange(int lower, int upper) override { controls_.SetProgressRange(lower, upper); }
  void SetProgressPos(int pos) override { controls_.SetProgressPos(pos); }
  void StartElapsedClock() override { controls_.StartElapsedClock(); }
  void StopElapsedClock() override { controls_.StopElapsedClock(); }

  void Flush() {
    for (const auto& [id, text] : fields_) controls_.SetField(id, text);
    fields_.clear();
  }

 private:
  Controls& controls_;
  std::map<int, std::string> fields_;
};

MainDialog::MainDialog(Options options, QWidget* parent)
    : QDialog(parent),
      options_(std::move(options)),
      ui_(std::make_unique<Ui::MainDialog>()),
      dialogThread_(std::this_thread::get_id()) {
  if (!options_.presenter) options_.presenter = std::make_shared<QtMessagePresenter>();
  if (!options_.chooser) options_.chooser = std::make_shared<QtFileChooser>();
  if (!options_.confirm) options_.confirm = AskQuestion;

  ui_->setupUi(this);
  // A fixed frame with a window menu and a close button; no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  FitFormToFont(*this);
  // The number fields hold up to ten digits, the times up to four-digit minutes: wide enough
  // for that in the font in use, their unit labels moved along.
  FitFieldToText(*ui_->field_1007, QStringLiteral("4294967295"), ui_->label_bytes_sent_unit, {});
  FitFieldToText(*ui_->field_1014, QStringLiteral("4294967295"), ui_->label_total_unit, {});
  FitFieldToText(*ui_->field_1011, QStringLiteral("4294967295"), {}, ui_->label_packets);
  FitFieldToText(*ui_->field_1008, QStringLiteral("9999:59"), {}, {});
  FitFieldToText(*ui_->field_1016, QStringLiteral("9999:59"), {}, {});
  SegmentedBar::Apply(*ui_->progress_1005);
  setAcceptDrops(true);
  fields_ = {
      {FIELD_FILE_NAMES, ui_->field_1006},    {FIELD_BYTES_SENT, ui_->field_1007},
      {FIELD_ELAPSED, ui_->field_1008},       {FIELD_STATUS, ui_->field_1010},
      {FIELD_PACKET_NUMBER, ui_->field_1011}, {FIELD_RETRY_COUNT, ui_->field_1012},
      {FIELD_LAST_REPLY, ui_->field_1013},    {FIELD_TOTAL_SIZE, ui_->field_1014},
      {FIELD_ESTIMATE, ui_->field_1016},
  };
  controls_ = std::make_unique<Controls>(*this);
  lastWrites_ = std::make_unique<LastWrites>(*controls_);
  calls_.SetAfterBatch([this] { lastWrites_->Flush(); });

  elapsedTimer_.setInterval(kElapsedTickPeriod);
  connect(&elapsedTimer_, &QTimer::timeout, this, [this] { OnTimer(kElapsedTimerId); });
  connect(ui_->button_1, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->button_1009, &QPushButton::clicked, this, &MainDialog::OnCancelClicked);
  connect(ui_->button_1002, &QPushButton::clicked, this, &MainDialog::OnSendClicked);
  connect(ui_->button_1003, &QPushButton::clicked, this, &MainDialog::OnOpenClicked);

  // "COM1" and the other classic names are looked for where the port list looks for ports.
  auto link = std::make_unique<SerialPortLink>();
  link->port().SetDeviceRoot(options_.inventory.dev);
  EngineOptions engineOptions;
  engineOptions.port = std::move(link);
  engine_.emplace(std::move(engineOptions));
  OnInitDialog();
}

MainDialog::~MainDialog() {
  EndEngine();
  std::lock_guard lk(virtualIrdMu_);
  virtualIrd_.reset();
}

void MainDialog::OnInitDialog() {
  // X11 window managers own the window menu, so its items live in the context menu.
  windowMenu_ = new QMenu(this);
  windowMenu_->setObjectName(QStringLiteral("windowMenu"));
  connect(windowMenu_->addAction(tr("&Close")), &QAction::triggered, this, &QWidget::close);
  QAction* station = windowMenu_->addAction(tr("&Station..."));
  station->setObjectName(QStringLiteral("stationAction"));
  connect(station, &QAction::triggered, this, [this] { OpenStation(); });
  windowMenu_->addSeparator();
  QAction* about = windowMenu_->addAction(QStringLiteral("&About Zembrin..."));
  about->setData(kAboutCommandId);
  connect(about, &QAction::triggered, this, [this] { OnSysCommand(kAboutCommandId); });
  // The keyboard's way to the menu: the Menu key arrives as a context-menu event; Shift+F10 as
  // a shortcut.
  auto* menuKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), this);
  connect(menuKey, &QShortcut::activated, this,
          [this] { windowMenu_->exec(mapToGlobal(rect().center())); });

  setWindowIcon(ProgramIcon());

  portList_ = std::make_unique<PortList>(*ui_->combo_1000, options_.inventory, options_.extraPorts);
  portName_ = ClassicPortName(ui_->combo_1000->currentIndex());

  // A failure has been shown by the engine; the dialog runs on either way.
  engine_->Init(*this, portName_);
}

bool MainDialog::SelectFiles() {
  return ChooseFiles(std::nullopt, std::nullopt);
}

bool MainDialog::ChooseFiles(std::optional<QString> first, std::optional<QString> second) {
  SetFileNames({}, {});
  if (!first) first = options_.chooser->Choose(this, {QStringLiteral("Select File"), QString()});
  if (!first) return false;
  std::string firstPath = WithDefaultExtension(ToPath(*first));
  std::string secondPath;
  SetFileNames(firstPath, {});

  // Extensions compare byte for byte: "MAIN.UUC" is not an upgrade file.
  const std::string extension = FileExtension(firstPath);
  if (extension == "u01") {
    if (!second) {
      second = options_.chooser->Choose(
          this, {QStringLiteral("Select Second File"), FromPath(firstPath)});
    }
    if (!second) return false;
    secondPath = WithDefaultExtension(ToPath(*second));
    if (FileExtension(secondPath) == "u02") {
      SetFileNames(firstPath, secondPath);
    } else {
      ShowMessage("Invalid Second File", {});
      firstPath.clear();
      secondPath.clear();
      SetFileNames({}, {});
    }
  } else if (extension != "uuc") {
    ShowMessage("Invalid File", {});
    firstPath.clear();
    SetFileNames({}, {});
  }
  SetField(FIELD_FILE_NAMES, ChosenFilesText(firstPath, secondPath));
  return true;
}

void MainDialog::ChooseDroppedFiles(const QStringList& paths) {
  if (paths.isEmpty() || paths.size() > 2) return;
  std::optional<QString> first = paths[0];
  std::optional<QString> second;
  if (paths.size() == 2) {
    // A pair may be dropped in either order: the ".u01" goes first.
    const bool swapped = FileExtension(ToPath(paths[1])) == "u01";
    first = paths[swapped ? 1 : 0];
    second = paths[swapped ? 0 : 1];
  }
  if (!ChooseFiles(first, second)) return;
  StopAfterNewChoice();
}

void MainDialog::OnOpenClicked() {
  if (!SelectFiles()) return;
  StopAfterNewChoice();
}

void MainDialog::StopAfterNewChoice() {
  if (engine_ && !engine_->IsIdle()) {
    engine_->Finish();
    SetField(FIELD_STATUS, "");
  }
}

void MainDialog::OnSendClicked() {
  if (!engine_) return;
  // Calling on a port that did not open: this start tries the port again, as the operator means
  // by pressing it (the adapter may be in now, or another port chosen).
  if (!engine_->IsIdle() && portList_->openFailed()) {
    engine_->Finish();
    SetField(FIELD_STATUS, "");
  }
  // The virtual IRD is switched off and on for every start, as a real receiver would be, so
  // that a download stopped half-way leaves nothing behind for the next.
  if (engine_->IsIdle() && portList_->Selected().kind == PortChoice::Kind::kVirtualIrd) {
    RestartVirtualIrd();
  }
  engine_->StartDownload();
}

void MainDialog::OnCancelClicked() {
  reject();
}

void MainDialog::OnSysCommand(int commandId) {
  if ((commandId & 0xFFF0) != kAboutCommandId) return;
  AboutDialog about(this);
  about.exec();
}

void MainDialog::OnTimer(int timerId) {
  if (timerId != kElapsedTimerId) return;
  // Ticks are counted, not measured: a tick that never came adds nothing.
  ++elapsedSeconds_;
  while (elapsedSeconds_ >= 60) {
    ++elapsedMinutes_;
    elapsedSeconds_ -= 60;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02ld", static_cast<int>(elapsedMinutes_),
                static_cast<long>(elapsedSeconds_));
  SetField(FIELD_ELAPSED, text);
}

bool MainDialog::DownloadRunning() const {
  return engine_.has_value() && !engine_->IsIdle();
}

bool MainDialog::SelectPort(const QString& label) {
  const int index = ui_->combo_1000->findText(label);
  if (index < 0) return false;
  ui_->combo_1000->setCurrentIndex(index);
  return true;
}

std::optional<Outcome> MainDialog::LastOutcome() const {
  return lastOutcome_;
}

void MainDialog::OnEvent(const EngineEvent& event) {
  {
    std::lock_guard lk(transferMu_);
    if (const auto* state = std::get_if<StateEntered>(&event)) {
      transfer_.phase = state->phase;
    } else if (const auto* accepted = std::get_if<ImageAccepted>(&event)) {
      transfer_ = {transfer_.phase, accepted->path, 0, accepted->packets};
    } else if (const auto* progress = std::get_if<ProgressMade>(&event)) {
      transfer_.packetsDone = progress->packetsDone;
      transfer_.packets = progress->packets;
    } else if (std::holds_alternative<DownloadEnded>(event)) {
      transfer_.phase = Phase::Ended;
    } else if (const auto* failed = std::get_if<PortOpenFailed>(&event)) {
      unshownOpenFailure_ = *failed;
    }
  }
  if (OnDialogThread()) {
    Supersede(DisplayKey(event));
    ApplyEvent(event, false);
    return;
  }
  calls_.Post(DisplayKey(event), [this, event] { ApplyEvent(event, true); });
}

void MainDialog::ApplyEvent(const EngineEvent& event, bool queued) {
  if (queued) {
    WriteFields(event, *lastWrites_);
  } else {
    WriteFields(event, *controls_);
  }
  if (const auto* ended = std::get_if<DownloadEnded>(&event)) lastOutcome_ = ended->outcome;
  // The engine keeps calling on a port that did not open: the list shows why nothing answers.
  if (const auto* failed = std::get_if<PortOpenFailed>(&event)) {
    portList_->MarkOpenFailure(QString::fromStdString(failed->message),
                               PortFailureText(failed->reason, failed->detail));
  }
  if (std::holds_alternative<PortOpened>(event)) portList_->ClearOpenFailure();
}

void MainDialog::Supersede(int key) {
  if (key != kNoDisplayKey) calls_.DropPending(key);
}

void MainDialog::SetField(int id, const std::string& text) {
  Supersede(id);
  controls_->SetField(id, text);
}

void MainDialog::SetProgressRange(int lower, int upper) {
  Supersede(FIELD_PROGRESS);
  controls_->SetProgressRange(lower, upper);
}

void MainDialog::SetProgressPos(int pos) {
  Supersede(FIELD_PROGRESS);
  controls_->SetProgressPos(pos);
}

void MainDialog::StartElapsedClock() {
  Supersede(kElapsedClockKey);
  controls_->StartElapsedClock();
}

void MainDialog::StopElapsedClock() {
  Supersede(kElapsedClockKey);
  controls_->StopElapsedClock();
}

int MainDialog::SelectedPortIndex() const {
  return ui_->combo_1000->currentIndex();
}

std::string MainDialog::SelectedPortName() {
  const PortChoice port = portList_->Selected();
  switch (port.kind) {
    case PortChoice::Kind::kFoundPort:
      return port.label;
    case PortChoice::Kind::kVirtualIrd:
      return VirtualIrdLine();
    case PortChoice::Kind::kClassicCom:
      break;
  }
  return port.label.empty() ? ClassicPortName(-1) : port.label;
}

std::string MainDialog::FirstFileName() {
  std::lock_guard lk(namesMu_);
  return firstFileName_;
}

std::string MainDialog::SecondFileName() {
  std::lock_guard lk(namesMu_);
  return secondFileName_;
}

bool MainDialog::SelectFiles(std::stop_token stop) {
  if (OnDialogThread()) return SelectFiles();
  return calls_.CallAndWait<bool>(stop, [this] { return SelectFiles(); }).value_or(false);
}

void MainDialog::MessageBox(const std::string& text, const std::string& detail,
                            std::stop_token stop) {
  std::optional<OpenFailureReason> openFailure;
  {
    std::lock_guard lk(transferMu_);
    if (unshownOpenFailure_ && unshownOpenFailure_->message == text &&
        unshownOpenFailure_->detail == detail) {
      openFailure = std::move(unshownOpenFailure_->reason);
    }
    unshownOpenFailure_.reset();
  }
  if (OnDialogThread()) {
    ShowMessage(text, detail, openFailure);
    return;
  }
  calls_.CallAndWait<bool>(stop, [this, text, detail, openFailure] {
    ShowMessage(text, detail, openFailure);
    return true;
  });
}

std::optional<QString> MainDialog::EndQuestion() const {
  if (!DownloadRunning()) return std::nullopt;
  Transfer t;
  {
    std::lock_guard lk(transferMu_);
    t = transfer_;
  }
  // Before an IRD answers nothing has been written to it: ending then costs nothing.
  if (t.phase != Phase::Header && t.phase != Phase::Data && t.phase != Phase::Terminating) {
    return std::nullopt;
  }
  const QString file = QFileInfo(FromPath(t.path)).fileName();
  QString where;
  if (t.packets > 0) {
    where = tr("%1 is being sent to the IRD: packet %2 of %3 (%4%).")
                .arg(file)
                .arg(t.packetsDone)
                .arg(t.packets)
                .arg(static_cast<std::uint64_t>(t.packetsDone) * 100 / t.packets);
  } else {
    where = tr("%1 is being sent to the IRD.").arg(file);
  }
  return where + QStringLiteral("\n\n") +
         tr("Ending now leaves the receiver with an incomplete image. Stop the download and "
            "close?");
}

void MainDialog::done(int result) {
  // A nested end (the question's own event loop) waits for the question's answer.
  if (askingToEnd_) return;
  if (const std::optional<QString> question = EndQuestion()) {
    askingToEnd_ = true;
    const bool end = options_.confirm(this, *question);
    askingToEnd_ = false;
    if (!end) return;
  }
  // The station window is a child: it goes with the dialog, but units loading on it are the
  // operator's to give up, so it asks first.
  if (station_ && !station_->close()) return;
  EndEngine();
  QDialog::done(result);
}

StationWindow* MainDialog::OpenStation() {
  if (!station_) {
    StationWindow::Options o;
    o.presenter = options_.presenter;
    o.chooser = options_.chooser;
    o.confirm = options_.confirm;
    o.inventory = options_.inventory;
    o.extraPorts = options_.extraPorts;
    {
      std::lock_guard lk(namesMu_);
      if (!firstFileName_.empty()) o.files.push_back(firstFileName_);
      if (!secondFileName_.empty()) o.files.push_back(secondFileName_);
    }
    // A child window, so that the dialog's modality leaves it usable.
    station_ = new StationWindow(std::move(o), this);
    station_->setAttribute(Qt::WA_DeleteOnClose);
    // Over the dialog it was opened from, within the screen.
    QRect place(QPoint(), station_->size());
    place.moveCenter(frameGeometry().center());
    if (const QScreen* screen = this->screen()) {
      const QRect room = screen->availableGeometry();
      place.moveLeft(std::clamp(place.left(), room.left(),
                                std::max(room.left(), room.right() - place.width())));
      place.moveTop(std::clamp(place.top(), room.top(),
                               std::max(room.top(), room.bottom() - place.height())));
    }
    station_->move(place.topLeft());
  }
  station_->show();
  station_->raise();
  station_->activateWindow();
  return station_;
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
  windowMenu_->exec(event->globalPos());
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  // The Menu key reaches the menu whichever control has the focus (none of them has a menu).
  if (event->key() == Qt::Key_Menu) {
    QWidget* at = focusWidget() != nullptr ? focusWidget() : this;
    windowMenu_->exec(at->mapToGlobal(at->rect().center()));
    return;
  }
  QDialog::keyPressEvent(event);
}

namespace {

// The local files a drop carries, when it carries one or two and nothing else.
QStringList DroppedFiles(const QMimeData* mime) {
  QStringList paths;
  if (mime == nullptr || !mime->hasUrls()) return paths;
  for (const QUrl& url : mime->urls()) {
    if (!url.isLocalFile()) return {};
    paths << url.toLocalFile();
  }
  return paths.size() <= 2 ? paths : QStringList();
}

}  // namespace

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainDialog::dropEvent(QDropEvent* event) {
  const QStringList paths = DroppedFiles(event->mimeData());
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  ChooseDroppedFiles(paths);
}

void MainDialog::ShowMessage(const std::string& text, const std::string& detail,
                             const std::optional<OpenFailureReason>& openFailure) {
  // The box's text is the dialog's own ("COM1 Open Error!"); only the reason is translated.
  const QString why =
      openFailure ? PortFailureText(*openFailure, detail) : QString::fromStdString(detail);
  options_.presenter->Show(
      this, {ApplicationTitle(), QString::fromStdString(text), why, QMessageBox::Warning});
}

void MainDialog::SetFileNames(std::string first, std::string second) {
  std::lock_guard lk(namesMu_);
  firstFileName_ = std::move(first);
  secondFileName_ = std::move(second);
}

std::string MainDialog::VirtualIrdLine() {
  std::lock_guard lk(virtualIrdMu_);
  if (!virtualIrd_) {
    auto ird = std::make_unique<sim::VirtualIrd>(options_.virtualIrd);
    std::string error;
    // Without a line the entry's own name goes to the port, whose open then fails and says so.
    if (!ird->Start(&error)) return kVirtualIrdLabel;
    virtualIrd_ = std::move(ird);
  }
  return virtualIrd_->SlavePath();
}

void MainDialog::RestartVirtualIrd() {
  std::lock_guard lk(virtualIrdMu_);
  virtualIrd_.reset();  // the next start makes a new one on a new line
}

void MainDialog::EndEngine() {
  // Destroying the engine stops its worker, which releases a question it is waiting on, and
  // joins it: nothing of the worker outlives this.
  engine_.reset();
  elapsedTimer_.stop();
}

}  // namespace irdload::ui
