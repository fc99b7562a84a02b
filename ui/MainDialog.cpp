#include "ui/MainDialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <cstdio>
#include <utility>

#include "serial/PortName.h"
#include "ui/AboutDialog.h"
#include "ui/ApplicationTitle.h"
#include "ui/DialogUnits.h"
#include "engine/FileChoice.h"
#include "ui/ProgramIcon.h"
#include "ui/QtFileChooser.h"
#include "ui/QtMessagePresenter.h"
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

MainDialog::MainDialog(Options options, QWidget* parent)
    : QDialog(parent),
      options_(std::move(options)),
      ui_(std::make_unique<Ui::MainDialog>()),
      dialogThread_(std::this_thread::get_id()),
      ports_(ListPortChoices(options_.inventory, options_.extraPorts)) {
  if (!options_.presenter) options_.presenter = std::make_shared<QtMessagePresenter>();
  if (!options_.chooser) options_.chooser = std::make_shared<QtFileChooser>();

  ui_->setupUi(this);
  // A fixed frame with a window menu and a close button; no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  FitFormToFont(*this);
  fields_ = {
      {FIELD_FILE_NAMES, ui_->field_1006},    {FIELD_BYTES_SENT, ui_->field_1007},
      {FIELD_ELAPSED, ui_->field_1008},       {FIELD_STATUS, ui_->field_1010},
      {FIELD_PACKET_NUMBER, ui_->field_1011}, {FIELD_RETRY_COUNT, ui_->field_1012},
      {FIELD_LAST_REPLY, ui_->field_1013},    {FIELD_TOTAL_SIZE, ui_->field_1014},
      {FIELD_ESTIMATE, ui_->field_1016},
  };
  controls_ = std::make_unique<Controls>(*this);

  elapsedTimer_.setInterval(kElapsedTickPeriod);
  connect(&elapsedTimer_, &QTimer::timeout, this, [this] { OnTimer(kElapsedTimerId); });
  connect(ui_->button_1, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->button_1009, &QPushButton::clicked, this, &MainDialog::OnCancelClicked);
  connect(ui_->button_1002, &QPushButton::clicked, this, &MainDialog::OnSendClicked);
  connect(ui_->button_1003, &QPushButton::clicked, this, &MainDialog::OnOpenClicked);
  connect(ui_->combo_1000, &QComboBox::currentIndexChanged, this,
          [this](int index) { selectedPortIndex_ = index; });

  engine_.emplace();
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
  connect(windowMenu_->addAction(QStringLiteral("&Close")), &QAction::triggered, this,
          &QWidget::close);
  windowMenu_->addSeparator();
  QAction* about = windowMenu_->addAction(QStringLiteral("&About Zembrin..."));
  about->setData(kAboutCommandId);
  connect(about, &QAction::triggered, this, [this] { OnSysCommand(kAboutCommandId); });

  setWindowIcon(ProgramIcon());

  for (const PortChoice& port : ports_) ui_->combo_1000->addItem(FromPath(port.label));
  // Device paths are wider than the box: the open list shows them whole.
  QAbstractItemView* list = ui_->combo_1000->view();
  list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth());
  ui_->combo_1000->setCurrentIndex(0);
  selectedPortIndex_ = ui_->combo_1000->currentIndex();
  portName_ = ClassicPortName(selectedPortIndex_.load());

  // A failure has been shown by the engine; the dialog runs on either way.
  engine_->Init(*this, portName_);
}

bool MainDialog::SelectFiles() {
  SetFileNames({}, {});
  const std::optional<QString> first =
      options_.chooser->Choose(this, {QStringLiteral("Select File"), QString()});
  if (!first) return false;
  std::string firstPath = WithDefaultExtension(ToPath(*first));
  std::string secondPath;
  SetFileNames(firstPath, {});

  // Extensions compare byte for byte: "MAIN.UUC" is not an upgrade file.
  const std::string extension = FileExtension(firstPath);
  if (extension == "u01") {
    const std::optional<QString> second =
        options_.chooser->Choose(this, {QStringLiteral("Select Second File"), FromPath(firstPath)});
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

void MainDialog::OnOpenClicked() {
  if (!SelectFiles()) return;
  if (engine_ && !engine_->IsIdle()) {
    engine_->Finish();
    SetField(FIELD_STATUS, "");
  }
}

void MainDialog::OnSendClicked() {
  if (engine_) engine_->StartDownload();
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

std::optional<Outcome> MainDialog::LastOutcome() const { return lastOutcome_; }

void MainDialog::OnEvent(const EngineEvent& event) {
  if (OnDialogThread()) {
    Supersede(DisplayKey(event));
    ApplyEvent(event);
    return;
  }
  calls_.Post(DisplayKey(event), [this, event] { ApplyEvent(event); });
}

void MainDialog::ApplyEvent(const EngineEvent& event) {
  WriteFields(event, *controls_);
  if (const auto* ended = std::get_if<DownloadEnded>(&event)) lastOutcome_ = ended->outcome;
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

std::string MainDialog::SelectedPortName() {
  const int index = selectedPortIndex_.load();
  if (index >= 0 && static_cast<std::size_t>(index) < ports_.size()) {
    const PortChoice& port = ports_[static_cast<std::size_t>(index)];
    switch (port.kind) {
      case PortChoice::Kind::kFoundPort:
        return port.label;
      case PortChoice::Kind::kVirtualIrd:
        return VirtualIrdLine();
      case PortChoice::Kind::kClassicCom:
        break;
    }
  }
  return ClassicPortName(index);
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
  if (OnDialogThread()) {
    ShowMessage(text, detail);
    return;
  }
  calls_.CallAndWait<bool>(stop, [this, text, detail] {
    ShowMessage(text, detail);
    return true;
  });
}

void MainDialog::done(int result) {
  EndEngine();
  QDialog::done(result);
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
  windowMenu_->exec(event->globalPos());
}

void MainDialog::ShowMessage(const std::string& text, const std::string& detail) {
  options_.presenter->Show(this, {ApplicationTitle(), QString::fromStdString(text),
                                  QString::fromStdString(detail), QMessageBox::Warning});
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

void MainDialog::EndEngine() {
  // Destroying the engine stops its worker, which releases a question it is waiting on, and
  // joins it: nothing of the worker outlives this.
  engine_.reset();
  elapsedTimer_.stop();
}

}  // namespace irdload::ui
