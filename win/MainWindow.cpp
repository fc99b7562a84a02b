#include "win/MainWindow.h"

#include <commctrl.h>
#include <commdlg.h>
#include <uxtheme.h>

#include <cstdio>
#include <vector>

#include "engine/FileChoice.h"
#include "engine/Image.h"
#include "serial/PortName.h"
#include "serial/Win32Text.h"
#include "win/AboutBox.h"
#include "win/FieldFit.h"
#include "win/Texts.h"
#include "win/resource.h"

namespace irdload::win {
namespace {

std::wstring W(const std::string& text) {
  return WideFromUtf8(text);
}

// Field 1006 and the status line break lines at "\n"; a static control breaks them at "\r\n".
std::wstring ControlText(const std::string& text) {
  std::wstring wide;
  for (const wchar_t c : W(text)) {
    if (c == L'\n') wide += L'\r';
    wide += c;
  }
  return wide;
}

}  // namespace

static_assert(MainWindow::kElapsedTimerId == kElapsedClockKey);

// The writes themselves, onto the controls, on the dialog's thread.
class MainWindow::Controls final : public FieldWriter {
 public:
  explicit Controls(MainWindow& window) : w_(window) {}

  void SetField(int id, const std::string& text) override {
    ::SetDlgItemTextW(w_.window_, id, ControlText(text).c_str());
  }
  void SetProgressRange(int lower, int upper) override {
    // The 32-bit range: an image of more than 65535 packets still fills the bar.
    ::SendDlgItemMessageW(w_.window_, IDC_PROGRESS, PBM_SETRANGE32, static_cast<WPARAM>(lower),
                          upper);
    w_.packetsTotal_ = static_cast<std::uint32_t>(upper);
  }
  void SetProgressPos(int pos) override {
    ::SendDlgItemMessageW(w_.window_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
    w_.packetsShown_ = static_cast<std::uint32_t>(pos);
  }
  void StartElapsedClock() override {
    w_.elapsedMinutes_ = 0;
    w_.elapsedSeconds_ = 0;
    // Replaces a running timer: the next tick is one period away.
    ::SetTimer(w_.window_, kElapsedTimerId, kElapsedTickMs, nullptr);
  }
  void StopElapsedClock() override { ::KillTimer(w_.window_, kElapsedTimerId); }

 private:
  MainWindow& w_;
};

// The worker's text writes of one batch: each field takes only its last text. The progress bar
// and the clock take every write, in order.
class MainWindow::LastWrites final : public FieldWriter {
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

MainWindow::MainWindow() : dialogThread_(std::this_thread::get_id()) {
  controls_ = std::make_unique<Controls>(*this);
  lastWrites_ = std::make_unique<LastWrites>(*controls_);
  queue_.SetAfterBatch([this] { lastWrites_->Flush(); });
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  icon_ = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                          ::GetSystemMetrics(SM_CXICON),
                                          ::GetSystemMetrics(SM_CYICON), 0));
  smallIcon_ = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME),
                                               IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                               ::GetSystemMetrics(SM_CYSMICON), 0));
  auto link = std::make_unique<SerialPortLink>();
  link->port().SetDeviceSource(
      [this](const std::string& portName) { return VirtualIrdDevice(portName); });
  EngineOptions options;
  options.port = std::move(link);
  engine_.emplace(std::move(options));
}

std::unique_ptr<PortDevice> MainWindow::VirtualIrdDevice(const std::string& portName) {
  if (portName != sim::InMemoryIrd::kPortName) return nullptr;
  std::lock_guard lk(virtualIrdMu_);
  if (!virtualIrd_) {
    // Paced like a real line, so that the operator sees the download run.
    sim::VirtualIrd::Options options;
    options.baud = DownloadEngine::kBaud;
    virtualIrd_ = std::make_unique<sim::InMemoryIrd>(options);
  }
  return virtualIrd_->Source()(portName);
}

MainWindow::~MainWindow() {
  EndEngine();
  if (icon_) ::DestroyIcon(icon_);
  if (smallIcon_) ::DestroyIcon(smallIcon_);
}

void MainWindow::Run() {
  ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr, Procedure,
                    reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    auto* self = reinterpret_cast<MainWindow*>(lParam);
    self->window_ = window;
    self->OnInitDialog();
    return TRUE;  // the focus goes to the first tab stop, the OK button
  }
  auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
  return self != nullptr ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        OnSysCommand(wParam);
        return TRUE;
      }
      return FALSE;  // move, close and the rest of the window menu as usual
    case WM_TIMER:
      OnTimer(static_cast<UINT_PTR>(wParam));
      return FALSE;
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(icon_));
      return TRUE;
    case WM_NOTIFY:
      if (ports_) {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (const wchar_t* text = ports_->TooltipText(*header)) {
          reinterpret_cast<NMTTDISPINFOW*>(lParam)->lpszText = const_cast<wchar_t*>(text);
          return TRUE;
        }
      }
      return FALSE;
    case WM_DEVICECHANGE:
      // A port came or went (an adapter plugged in or out).
      if (ports_ && (wParam == 0x8000 /* DBT_DEVICEARRIVAL */ ||
                     wParam == 0x8004 /* DBT_DEVICEREMOVECOMPLETE */)) {
        ports_->Refresh();
      }
      return FALSE;
    case DialogQueue::kMessage:
      queue_.RunPending();
      return TRUE;
    default:
      return FALSE;
  }
}

void MainWindow::OnInitDialog() {
  queue_.Attach(window_);
  if (HMENU menu = ::GetSystemMenu(window_, FALSE)) {
    const std::wstring about = LoadText(IDS_ABOUTBOX);
    if (!about.empty()) {
      ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
  }
  ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  FitFields();
  // The template's segmented bar: a visual style would draw it as one smooth bar.
  ::SetWindowTheme(::GetDlgItem(window_, IDC_PROGRESS), L"", L"");
  ports_ = std::make_unique<PortBox>(window_, ::GetDlgItem(window_, IDC_PORT_LIST), true);
  // A failure has been shown by the engine; the dialog runs on either way.
  engine_->Init(*this, ClassicPortName(0));
  // No owner window, and the template has no centring style: the dialog opens centred in the
  // screen's work area, as the framework would centre it.
  RECT area{};
  RECT box{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  ::GetWindowRect(window_, &box);
  const int width = box.right - box.left;
  const int height = box.bottom - box.top;
  ::SetWindowPos(window_, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::FitFields() {
  // The labels without an ID, found by where the template puts them: the units after 1007 and
  // 1014, and the label before 1011.
  HWND bytesUnit = nullptr;
  HWND totalUnit = nullptr;
  HWND packetsLabel = nullptr;
  int index = 0;
  for (HWND child = ::GetWindow(window_, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT), ++index) {
    if (index == kPacketsLabelIndex) packetsLabel = child;
    if (index == kBytesUnitIndex) bytesUnit = child;
    if (index == kTotalUnitIndex) totalUnit = child;
  }
  FitFieldToText(window_, IDC_BYTES_SENT, L"4294967295", Grow::Right, bytesUnit);
  FitFieldToText(window_, IDC_TOTAL_SIZE, L"4294967295", Grow::Right, totalUnit);
  FitFieldToText(window_, IDC_PACKET_NUMBER, L"4294967295", Grow::Left, packetsLabel);
  FitFieldToText(window_, IDC_ELAPSED, L"9999:59", Grow::Right, nullptr);
  FitFieldToText(window_, IDC_ESTIMATE, L"9999:59", Grow::Right, nullptr);
}

void MainWindow::OnCommand(int id, int code) {
  switch (id) {
    case IDOK:
    case IDCANCEL:  // Escape and the window's close
      OnEndAsked(id);
      return;
    case IDC_CANCEL:
      if (code == BN_CLICKED) OnEndAsked(IDCANCEL);
      return;
    case IDC_OPEN:
      if (code == BN_CLICKED) OnOpenClicked();
      return;
    case IDC_SEND:
      if (code == BN_CLICKED) OnSendClicked();
      return;
    case IDC_PORT_LIST:
      if (code == CBN_SELCHANGE && ports_) ports_->OnSelectionChanged();
      if (code == CBN_DROPDOWN && ports_) ports_->Refresh();
      return;
    default:
      return;
  }
}

void MainWindow::OnSysCommand(WPARAM) {
  ShowAboutBox(window_);
}

void MainWindow::OnTimer(UINT_PTR timerId) {
  if (timerId != kElapsedTimerId) return;
  // Ticks are counted, not measured: a tick that never came adds nothing.
  ++elapsedSeconds_;
  while (elapsedSeconds_ >= 60) {
    ++elapsedMinutes_;
    elapsedSeconds_ -= 60;
  }
  // The one minutes:seconds form every surface shows.
  SetField(FIELD_ELAPSED, FormatMinutesSeconds(static_cast<std::uint64_t>(elapsedMinutes_) * 60 +
                                               static_cast<std::uint64_t>(elapsedSeconds_)));
}

bool MainWindow::OnPaint() {
  if (!::IsIconic(window_)) return false;
  PAINTSTRUCT paint{};
  const HDC dc = ::BeginPaint(window_, &paint);
  ::SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int cx = ::GetSystemMetrics(SM_CXICON);
  const int cy = ::GetSystemMetrics(SM_CYICON);
  RECT client{};
  ::GetClientRect(window_, &client);
  ::DrawIcon(dc, (client.right - client.left - cx + 1) / 2,
             (client.bottom - client.top - cy + 1) / 2, icon_);
  ::EndPaint(window_, &paint);
  return true;
}

bool MainWindow::ChooseFiles() {
  SetFileNames({}, {});
  // Room for any path Windows can make, not only 260 characters.
  std::vector<wchar_t> name(32768, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFilter =
      L"ZB upg file(*.u01,*.u02,*.uuc)\0*.u01;*.u02;*.uuc\0All files(*.*)\0*.*\0\0";
  dialog.nFilterIndex = lastFilterIndex_;
  dialog.lpstrFile = name.data();
  dialog.nMaxFile = static_cast<DWORD>(name.size());
  dialog.lpstrDefExt = L"uuc";
  dialog.lpstrTitle = L"Select File";
  // The Explorer style alone: the read-only box shows, and the file need not exist.
  dialog.Flags = OFN_EXPLORER;
  if (!::GetOpenFileNameW(&dialog)) return false;
  lastFilterIndex_ = dialog.nFilterIndex;
  std::string first = WithDefaultExtension(Utf8FromWide(name.data()));
  std::string second;
  SetFileNames(first, {});
  // Extensions compare byte for byte: "MAIN.UUC" is not an upgrade file.
  const std::string extension = FileExtension(first);
  if (extension == "u01") {
    // Opens with the first file's path, in its folder, with the filter entry last used.
    dialog.lpstrTitle = L"Select Second File";
    if (!::GetOpenFileNameW(&dialog)) return false;
    lastFilterIndex_ = dialog.nFilterIndex;
    second = WithDefaultExtension(Utf8FromWide(name.data()));
    if (FileExtension(second) == "u02") {
      SetFileNames(first, second);
    } else {
      ShowMessage("Invalid Second File", {});
      first.clear();
      second.clear();
      SetFileNames({}, {});
    }
  } else if (extension != "uuc") {
    ShowMessage("Invalid File", {});
    first.clear();
    SetFileNames({}, {});
  }
  SetField(FIELD_FILE_NAMES, ChosenFilesText(first, second));
  return true;
}

void MainWindow::OnOpenClicked() {
  if (!ChooseFiles()) return;
  if (engine_ && !engine_->IsIdle()) {
    engine_->Finish();
    SetField(FIELD_STATUS, "");
  }
}

void MainWindow::OnSendClicked() {
  if (!engine_) return;
  // Calling on a port that did not open: this start tries the port again, as the operator means
  // by pressing it (the adapter may be in now, or another port chosen).
  if (!engine_->IsIdle() && ports_->openFailed()) {
    engine_->Finish();
    SetField(FIELD_STATUS, "");
  }
  // A start on the virtual IRD meets a receiver just switched on: what a stopped download left
  // in the last one is gone.
  if (engine_->IsIdle() && ports_->Selected().kind == PortChoice::Kind::kVirtualIrd) {
    std::lock_guard lk(virtualIrdMu_);
    virtualIrd_.reset();
  }
  engine_->StartDownload();
}

void MainWindow::OnEndAsked(int result) {
  // A download whose end message was answered just now goes idle within moments: that one is
  // over, not running, and ending needs no question.
  if (engine_ && !engine_->IsIdle() && !engine_->WaitIdle(kEndingGrace)) {
    // A stray Enter or Escape must not leave a receiver with half an image: ask, "No" first.
    const std::string first = FirstFileName();
    const std::string second = SecondFileName();
    const std::wstring files = W(second.empty() ? first : first + "\n" + second);
    const std::wstring progress =
        Fill(LoadText(IDS_END_PROGRESS),
             {std::to_wstring(packetsShown_), std::to_wstring(packetsTotal_)});
    const std::wstring question = Fill(LoadText(IDS_END_QUESTION), {files, progress});
    const int answer = ::MessageBoxW(window_, question.c_str(), ApplicationTitle().c_str(),
                                     MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
    // The download may have ended while the question was open: then ending needs no more.
    if (answer != IDYES && engine_ && !engine_->IsIdle()) return;
  }
  EndEngine();
  queue_.Detach();
  ::EndDialog(window_, result);
}

void MainWindow::OnEvent(const EngineEvent& event) {
  if (OnDialogThread()) {
    Supersede(DisplayKey(event));
    ApplyEvent(event, false);
    return;
  }
  queue_.Post(DisplayKey(event), [this, event] { ApplyEvent(event, true); });
}

void MainWindow::ApplyEvent(const EngineEvent& event, bool queued) {
  if (queued) {
    WriteFields(event, *lastWrites_);
  } else {
    WriteFields(event, *controls_);
  }
  if (const auto* failed = std::get_if<PortOpenFailed>(&event)) {
    ports_->MarkOpenFailure(failed->message, failed->detail);
  }
  if (std::holds_alternative<PortOpened>(event)) ports_->ClearOpenFailure();
}

void MainWindow::Supersede(int key) {
  if (key != kNoDisplayKey) queue_.DropPending(key);
}

void MainWindow::SetField(int id, const std::string& text) {
  Supersede(id);
  controls_->SetField(id, text);
}

void MainWindow::SetProgressRange(int lower, int upper) {
  Supersede(FIELD_PROGRESS);
  controls_->SetProgressRange(lower, upper);
}

void MainWindow::SetProgressPos(int pos) {
  Supersede(FIELD_PROGRESS);
  controls_->SetProgressPos(pos);
}

void MainWindow::StartElapsedClock() {
  Supersede(kElapsedClockKey);
  controls_->StartElapsedClock();
}

void MainWindow::StopElapsedClock() {
  Supersede(kElapsedClockKey);
  controls_->StopElapsedClock();
}

std::string MainWindow::SelectedPortName() {
  const PortChoice port = ports_->Selected();
  if (port.kind == PortChoice::Kind::kClassicCom && port.label.empty()) return ClassicPortName(-1);
  return port.label;
}

std::string MainWindow::FirstFileName() {
  std::lock_guard lk(namesMu_);
  return firstFileName_;
}

std::string MainWindow::SecondFileName() {
  std::lock_guard lk(namesMu_);
  return secondFileName_;
}

bool MainWindow::SelectFiles(std::stop_token stop) {
  if (OnDialogThread()) return ChooseFiles();
  return queue_.CallAndWait<bool>(stop, [this] { return ChooseFiles(); }).value_or(false);
}

void MainWindow::MessageBox(const std::string& text, const std::string& detail,
                            std::stop_token stop) {
  if (OnDialogThread()) {
    ShowMessage(text, detail);
    return;
  }
  queue_.CallAndWait<bool>(stop, [this, text, detail] {
    ShowMessage(text, detail);
    return true;
  });
}

void MainWindow::ShowMessage(const std::string& text, const std::string& detail) {
  // The system's text stays exact; what the PC knows beyond it follows on its own lines.
  const std::wstring body = W(detail.empty() ? text : text + "\n\n" + detail);
  ::MessageBoxW(window_, body.c_str(), ApplicationTitle().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

void MainWindow::SetFileNames(std::string first, std::string second) {
  std::lock_guard lk(namesMu_);
  firstFileName_ = std::move(first);
  secondFileName_ = std::move(second);
}

void MainWindow::EndEngine() {
  // Destroying the engine stops its worker, which releases a question it waits on, and joins
  // it: nothing of the worker outlives this.
  engine_.reset();
  if (window_) ::KillTimer(window_, kElapsedTimerId);
  std::lock_guard lk(virtualIrdMu_);
  virtualIrd_.reset();
}

}  // namespace irdload::win
