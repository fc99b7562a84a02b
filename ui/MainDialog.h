// The main dialog: port list, file choice, start and stop, and the status fields, progress bar and
// elapsed clock that the download engine writes. It is the engine's host: the worker's calls
// arrive on the dialog's thread as queued calls, and a question the worker asks (a message, a
// file choice) blocks the worker until the operator has answered or the download is stopped.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dialog/DialogFields.h"
#include "dialog/PortChoices.h"
#include "engine/DownloadEngine.h"
#include "engine/EngineHost.h"
#include "ports/PortInventory.h"
#include "sim/VirtualIrd.h"
#include "ui/DialogThreadCalls.h"
#include "ui/OperatorPrompts.h"
#include "ui/PortList.h"

class QLabel;
class QMenu;

namespace Ui {
class MainDialog;
}

namespace irdload::ui {

class StationWindow;

/// What a MainDialog is built with; the defaults are the real program's.
struct MainDialogOptions {
  /// Null: real message boxes.
  std::shared_ptr<MessagePresenter> presenter;
  /// Null: a real file dialog.
  std::shared_ptr<FileChooser> chooser;
  /// The virtual IRD behind the "Virtual IRD" entry; paced like a real line so that the operator
  /// sees the download run. Tests leave it unpaced.
  sim::VirtualIrd::Options virtualIrd{.baud = DownloadEngine::kBaud};
  /// Where the port list looks for serial ports.
  InventoryRoots inventory;
  /// Device paths listed after the ports found (the benchmark's line, for one).
  std::vector<std::string> extraPorts;
  /// The yes-or-no questions (ending mid-download, closing the station window while units
  /// load); null: real question boxes.
  std::function<bool(QWidget*, const QString&)> confirm;
};

class MainDialog final : public QDialog, public EngineHost, public FieldWriter {
  Q_OBJECT

 public:
  /// The elapsed clock's timer.
  static constexpr int kElapsedTimerId = 2313;
  static constexpr std::chrono::milliseconds kElapsedTickPeriod{1000};
  /// The window-menu command that opens the About box.
  static constexpr int kAboutCommandId = 16;

  using Options = MainDialogOptions;

  /// Builds the dialog and initialises it: port list, window menu, icon, and the engine, which
  /// opens "COM1".
  explicit MainDialog(Options options = {}, QWidget* parent = nullptr);
  /// Ends the engine's worker before anything it calls into goes away.
  ~MainDialog() override;

  // Operator actions, on the dialog's thread.
  /// Asks for a ".uuc" file or a ".u01"/".u02" pair. False only when a file dialog was cancelled.
  bool SelectFiles();
  void OnOpenClicked();
  void OnSendClicked();
  void OnCancelClicked();
  /// Window-menu commands: kAboutCommandId opens the About box.
  void OnSysCommand(int commandId);
  /// A timer tick; kElapsedTimerId advances the elapsed clock by one second.
  void OnTimer(int timerId);

  /// The menu the right mouse button opens: the window-menu items, ending with the About item.
  QMenu* windowMenu() const { return windowMenu_; }
  /// Opens the station window (or raises it when open); it lives as long as this dialog.
  StationWindow* OpenStation();
  bool ElapsedClockRunning() const { return elapsedTimer_.isActive(); }
  /// True while the engine runs a download; false once the dialog has ended.
  bool DownloadRunning() const;
  /// Calls from the worker waiting for the dialog's thread to run them.
  std::size_t PendingWorkerCalls() const { return calls_.pending(); }

  /// Selects the port list entry that reads `label`; false when there is none.
  bool SelectPort(const QString& label);
  /// The port list's selected index, -1 when none.
  int SelectedPortIndex() const;
  /// The port list, kept up to date with the adapters plugged in and out.
  PortList& ports() { return *portList_; }
  /// Takes dropped files as the file dialog's answers: a ".uuc", or a ".u01" and its ".u02".
  void ChooseDroppedFiles(const QStringList& paths);
  /// How the last download ended, once one has.
  std::optional<Outcome> LastOutcome() const;

  // EngineHost: any thread. Events from the worker are carried to the dialog's thread.
  void OnEvent(const EngineEvent& event) override;
  /// "COM<index+1>" for the classic entries (and for no selection, -1: "COM0"), the device path
  /// of a found port, the virtual IRD's line for "Virtual IRD" (started on first use).
  std::string SelectedPortName() override;
  std::string FirstFileName() override;
  std::string SecondFileName() override;
  bool SelectFiles(std::stop_token stop) override;
  void MessageBox(const std::string& text, const std::string& detail,
                  std::stop_token stop) override;

  // FieldWriter: the dialog's own writes, on its thread. Each supersedes the engine's queued
  // events that would change the same display, so that an older one never overwrites it.
  void SetField(int id, const std::string& text) override;
  void SetProgressRange(int lower, int upper) override;
  void SetProgressPos(int pos) override;
  void StartElapsedClock() override;
  void StopElapsedClock() override;

  /// Every way the dialog ends (OK, "Отмена", Enter, Escape, closing the window) comes here.
  /// While an IRD takes an image it asks first ("No" keeps the download going); otherwise, or
  /// on "Yes", the download is abandoned and the worker ended first.
  void done(int result) override;
  /// The question ending the dialog asks now: the file on the wire and how far it is; nothing
  /// when no IRD is taking an image.
  std::optional<QString> EndQuestion() const;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  class Controls;
  class LastWrites;

  void OnInitDialog();
  // The file choice with answers already given (dropped files) asked for only where missing.
  bool ChooseFiles(std::optional<QString> first, std::optional<QString> second);
  // After files were chosen: a running download stops, as the file choice says.
  void StopAfterNewChoice();
  void RestartVirtualIrd();
  bool OnDialogThread() const { return std::this_thread::get_id() == dialogThread_; }
  // An engine event, on the dialog's thread.
  // `queued`: from the worker, written at the end of the batch it came in.
  void ApplyEvent(const EngineEvent& event, bool queued);
  void Supersede(int key);
  // `openFailure`: the detail's reason, when the box is for a port that did not open.
  void ShowMessage(const std::string& text, const std::string& detail,
                   const std::optional<OpenFailureReason>& openFailure = std::nullopt);
  void SetFileNames(std::string first, std::string second);
  std::string VirtualIrdLine();
  void EndEngine();

  Options options_;
  std::unique_ptr<Ui::MainDialog> ui_;
  const std::thread::id dialogThread_;
  std::map<int, QLabel*> fields_;
  std::unique_ptr<Controls> controls_;
  std::unique_ptr<LastWrites> lastWrites_;
  QMenu* windowMenu_ = nullptr;
  DialogThreadCalls calls_;

  // The elapsed clock lives on the dialog's thread only; the worker's start and stop are queued.
  QTimer elapsedTimer_;
  std::int32_t elapsedMinutes_ = 0;
  std::int32_t elapsedSeconds_ = 0;

  std::unique_ptr<PortList> portList_;
  // Copies that the worker reads.
  mutable std::mutex namesMu_;
  std::string firstFileName_;
  std::string secondFileName_;

  std::string portName_;
  std::optional<Outcome> lastOutcome_;  // dialog's thread

  // What the engine's worker last told of the file on the wire, kept as it tells it (not as the
  // queued fields show it), so that the question on ending never lags the download.
  struct Transfer {
    Phase phase = Phase::Idle;
    std::string path;
    std::uint32_t packetsDone = 0, packets = 0;
  };
  mutable std::mutex transferMu_;
  Transfer transfer_;
  // The engine tells of a port that did not open, then shows its box: the box words the reason
  // in the operator's language (worker's thread, under transferMu_).
  std::optional<PortOpenFailed> unshownOpenFailure_;
  bool askingToEnd_ = false;  // dialog's thread: the question is open

  QPointer<StationWindow> station_;

  std::mutex virtualIrdMu_;
  std::unique_ptr<sim::VirtualIrd> virtualIrd_;

  // Declared last so that it goes first even without the explicit end in the destructor.
  std::optional<DownloadEngine> engine_;
};

}  // namespace irdload::ui
