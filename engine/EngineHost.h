// What the download engine needs from its front end: somewhere to send its events, the port and
// files the operator chose, and the two questions it may put to the operator (a file choice and a
// message). The dialog, the command line, the station and the tests each implement it.
#pragma once

#include <stop_token>
#include <string>

#include "engine/Events.h"

namespace irdload {

/// Calls come from the thread that called the engine (Init, StartDownload, Finish) and from the
/// engine's worker, never two at once. Calls that wait for the operator (SelectFiles,
/// MessageBox) take a stop token: when a stop is requested the call must return promptly
/// (SelectFiles then as a cancelled choice), so that stopping a download never waits on a box
/// the worker asked for.
class EngineHost {
 public:
  virtual ~EngineHost() = default;

  /// Every event of the engine, in order.
  virtual void OnEvent(const EngineEvent& event) = 0;
  /// The port a start opens: "COM<n>" or a device path.
  virtual std::string SelectedPortName() = 0;
  virtual std::string FirstFileName() = 0;
  virtual std::string SecondFileName() = 0;
  /// Runs the file selection; false only when the operator cancelled a file dialog.
  virtual bool SelectFiles(std::stop_token stop) = 0;
  /// A modal message with an OK button. `detail`, when not empty, is a secondary explanation
  /// (such as the operating system's reason a port did not open); `text` stays exact.
  virtual void MessageBox(const std::string& text, const std::string& detail,
                          std::stop_token stop) = 0;
};

}  // namespace irdload
