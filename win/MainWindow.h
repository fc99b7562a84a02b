// The main dialog on the Win32 windowing calls, built from template 102: port list, file
// choice, start and stop, and the status fields, progress bar and elapsed clock that the engine
// writes. It is the engine's host: the worker's events reach the dialog's thread as posted
// messages, and a question the worker asks (a message, a file choice) blocks the worker until
// the operator has answered or the download is stopped. Which field an event writes, in which
// format, is dialog/DialogFields' to say, for this dialog and the Qt one alike.
#pragma once

#include <windows.h>
// The engine's host names its question MessageBox, which windows.h makes a macro.
#undef MessageBox

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "dialog/DialogFields.h"
#include "engine/DownloadEngine.h"
#include "engine/EngineHost.h"
#include "sim/InMemoryIrd.h"
#include "win/DialogQueue.h"
#include "win/PortBox.h"

namespace irdload::win {

class MainWindow final : public EngineHost, public FieldWriter {
 public:
  static constexpr UINT_PTR kElapsedTimerId = 2313;
  static constexpr UINT kElapsedTickMs = 1000;
  /// How long an ending waits for a download that is finishing before it asks.
  static constexpr std::chrono::milliseconds kEndingGrace{200};

  MainWindow();
  /// Ends the engine's worker before anything it calls into goes away.
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  /// Runs the dialog modally; returns when it has ended.
  void Run();

  // EngineHost: any thread. Events from the worker are carried to the dialog's thread.
  void OnEvent(const EngineEvent& event) override;
  std::string SelectedPortName() override;
  std::string FirstFileName() override;
  std::string SecondFileName() override;
  bool SelectFiles(std::stop_token stop) override;
  void MessageBox(const std::string& text, const std::string& detail,
                  std::stop_token stop) override;

  // FieldWriter: the dialog's own writes, on its thread. Each supersedes the engine's queued
  // events that would change the same display.
  void SetField(int id, const std::string& text) override;
  void SetProgressRange(int lower, int upper) override;
  void SetProgressPos(int pos) override;
  void StartElapsedClock() override;
  void StopElapsedClock() override;

 private:
  class Controls;
  class LastWrites;

  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  // The number and time fields, wide enough for their widest text (win/FieldFit.h).
  void FitFields();
  // Template 102's labels "Пакеты" and the two "Байт", by their place in the template.
  static constexpr int kPacketsLabelIndex = 23;
  static constexpr int kBytesUnitIndex = 25;
  static constexpr int kTotalUnitIndex = 26;
  void OnCommand(int id, int code);
  void OnSysCommand(WPARAM command);
  void OnTimer(UINT_PTR timerId);
  bool OnPaint();
  bool ChooseFiles();
  void OnOpenClicked();
  void OnSendClicked();
  // Every way of ending the dialog comes here: at once when idle; mid-download only when the
  // operator confirms.
  void OnEndAsked(int result);
  bool OnDialogThread() const { return std::this_thread::get_id() == dialogThread_; }
  void ApplyEvent(const EngineEvent& event, bool queued);
  void Supersede(int key);
  void ShowMessage(const std::string& text, const std::string& detail);
  void SetFileNames(std::string first, std::string second);
  void EndEngine();
  std::unique_ptr<PortDevice> VirtualIrdDevice(const std::string& portName);

  HWND window_ = nullptr;
  HICON icon_ = nullptr;
  HICON smallIcon_ = nullptr;
  const std::thread::id dialogThread_;
  std::unique_ptr<Controls> controls_;
  std::unique_ptr<LastWrites> lastWrites_;
  DialogQueue queue_;
  std::unique_ptr<PortBox> ports_;

  // The elapsed clock lives on the dialog's thread only.
  std::int32_t elapsedMinutes_ = 0;
  std::int32_t elapsedSeconds_ = 0;
  // The last progress shown, for the question on ending (dialog's thread).
  std::uint32_t packetsShown_ = 0;
  std::uint32_t packetsTotal_ = 0;
  DWORD lastFilterIndex_ = 1;

  mutable std::mutex namesMu_;
  std::string firstFileName_;
  std::string secondFileName_;

  // The IRD behind "Virtual IRD", made on first use and anew for every start, as a real receiver
  // is switched off and on; the engine's port opens its line by that name.
  std::mutex virtualIrdMu_;
  std::unique_ptr<sim::InMemoryIrd> virtualIrd_;

  // Declared last so that it goes first.
  std::optional<DownloadEngine> engine_;
};

}  // namespace irdload::win
