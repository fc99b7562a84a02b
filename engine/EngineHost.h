// What the download engine needs from its front end: the main dialog's status fields,
// progress bar, port choice, file names and file selection, the elapsed clock and the message
// box. The Qt dialog, the command-line front end and the tests each implement it.
#pragma once

#include <stop_token>
#include <string>

namespace irdload {

/// Status fields of the main dialog, by control ID. All hold text.
enum FieldId : int {
  FIELD_PORT_LIST = 1000,
  FIELD_PROGRESS = 1005,
  FIELD_FILE_NAMES = 1006,
  FIELD_BYTES_SENT = 1007,
  FIELD_ELAPSED = 1008,
  FIELD_STATUS = 1010,
  FIELD_PACKET_NUMBER = 1011,
  FIELD_RETRY_COUNT = 1012,
  FIELD_LAST_REPLY = 1013,
  FIELD_TOTAL_SIZE = 1014,
  FIELD_ESTIMATE = 1016,
};

/// Calls come from the front end's own thread and from the engine's worker. Calls that wait
/// for the operator (SelectFiles, MessageBox) take a stop token: when a stop is requested the
/// call must return promptly (SelectFiles then as a cancelled choice), so that stopping a
/// download never waits on a box the worker asked for.
class EngineHost {
 public:
  virtual ~EngineHost() = default;

  virtual void SetField(int id, const std::string& text) = 0;
  virtual void SetProgressRange(int lower, int upper) = 0;
  virtual void SetProgressPos(int pos) = 0;
  /// The port list's selected index, -1 when none.
  virtual int SelectedPortIndex() = 0;
  /// The port name for a list index: "COM<index+1>" unless the front end lists other ports.
  virtual std::string PortNameForIndex(int index) { return "COM" + std::to_string(index + 1); }
  virtual std::string FirstFileName() = 0;
  virtual std::string SecondFileName() = 0;
  /// Runs the file selection; false only when the operator cancelled a file dialog.
  virtual bool SelectFiles(std::stop_token stop) = 0;
  virtual void StartElapsedClock() = 0;
  virtual void StopElapsedClock() = 0;
  /// A modal message with an OK button. `detail`, when not empty, is a secondary explanation
  /// (such as the operating system's reason a port did not open); `text` stays exact.
  virtual void MessageBox(const std::string& text, const std::string& detail,
                          std::stop_token stop) = 0;
};

}  // namespace irdload
