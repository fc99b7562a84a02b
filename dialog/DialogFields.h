// The main dialog's status fields, and how the engine's events become writes to them: which
// field, in which format, at which moment. Plain C++, without a windowing system: the Qt dialog
// (ui/) and the Win32 dialog (win/) both write through it, so the two cannot drift, and the
// engine's tests hold the engine to the very writes the dialogs make.
#pragma once

#include <string>

#include "engine/Events.h"

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

/// Where the writes go: the dialog's controls, or a test's record of them.
class FieldWriter {
 public:
  virtual ~FieldWriter() = default;
  virtual void SetField(int id, const std::string& text) = 0;
  virtual void SetProgressRange(int lower, int upper) = 0;
  virtual void SetProgressPos(int pos) = 0;
  virtual void StartElapsedClock() = 0;
  virtual void StopElapsedClock() = 0;
};

/// The dialog's writes for one event, in order; events that show nothing write nothing.
void WriteFields(const EngineEvent& event, FieldWriter& out);

/// Key of the elapsed clock's start and stop (the clock's timer ID).
inline constexpr int kElapsedClockKey = 2313;
/// Key of events the fields do not show.
inline constexpr int kNoDisplayKey = -1;

/// What an event's writes change: a field ID (FIELD_PROGRESS for the progress bar and its
/// counters), kElapsedClockKey, or kNoDisplayKey. A write made on the dialog's own thread
/// supersedes queued events with the same key.
int DisplayKey(const EngineEvent& event);

}  // namespace irdload
