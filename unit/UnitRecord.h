// The record of one unit: what went into which receiver, through which socket and adapter, and
// how it ended. Written as one JSON document per unit and one line of units.csv (UnitCsv.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/Events.h"

namespace irdload::unit {

/// Bumped whenever a field changes meaning or goes; new fields do not bump it. 2: the engine's
/// own counts (failedSteps, rejections, repeats, lateReplies, staleBytes) replace retries and
/// nacks.
inline constexpr int kRecordSchema = 2;

struct FileRecord {
  std::string path;
  std::uint64_t size = 0;  ///< bytes loaded: the 64-byte header and the payload
  std::string sha256;      ///< of the file as loaded, lower-case hex
  std::uint32_t typeCode = 0;
  std::uint32_t payloadSize = 0;  ///< as the header states it
  std::uint32_t packets = 0;
};

struct AdapterRecord {
  std::string device;  ///< what the port's path led to at the unit's start
  std::string byPath, byId;
  std::string vendorId, productId, serial, manufacturer, product, driver;
};

struct UnitRecord {
  std::string toolVersion;
  std::chrono::system_clock::time_point started{}, ended{};
  std::string host;
  std::string portLabel, portPath;
  AdapterRecord adapter;
  std::vector<FileRecord> files;
  std::string unitId;
  std::uint32_t unit = 0;  ///< 1, 2, ... on its port in this run
  int attempts = 1;
  /// How each earlier attempt ended ("failed: <detail>"), for --retries.
  std::vector<std::string> earlierAttempts;
  std::uint32_t packetsSent = 0;  ///< every data packet sent, resends included
  LinkCounts counts;              ///< what the line did in the last attempt, as the engine counted
  double durationSeconds = 0;     ///< from the connect re-acknowledge to the end
  /// The protocol's own line time for these files over the measured time; none without one.
  std::optional<double> lineEfficiency;
  Outcome outcome;
  int exitCode = 0;
  std::string trace;  ///< the wire trace of this unit, with --trace-dir

  /// Loaded only when the IRD sent its success terminate request.
  bool loaded() const { return outcome.kind == OutcomeKind::Success; }
};

/// The record as one JSON object (a single line).
std::string RecordJson(const UnitRecord& record);
/// "0xffeeffaa".
std::string TypeCodeText(std::uint32_t typeCode);

/// A label made safe as part of a file name: letters, digits, '.', '-' and '_' stay, anything
/// else becomes '_'.
std::string FileSafe(const std::string& label);

}  // namespace irdload::unit

namespace irdload::unit {

/// Room a record takes at most, from a draft that holds everything known before its unit starts
/// (who, where, which files, which id, the trace's path): the record and its CSV line as the
/// draft gives them, and what `attempts` attempts' outcomes can add.
std::uint64_t RecordRoom(const UnitRecord& draft, int attempts);

/// The exit code `send` ends with after such an outcome: 0 success, 4 failed, 5 no response,
/// 3 the port did not open, 2 a file refused, 130 stopped.
int UnitExitCode(OutcomeKind kind);
/// The exit code of a unit that was loaded but whose record could not be written: its
/// bookkeeping failed, which no script may take for success.
inline constexpr int kExitRecordFailed = 1;

/// The protocol's own line time at 115200 baud for files of these payload sizes, from the
/// connect re-acknowledge of the first file to the terminate answer of the last: what a
/// perfect PC and IRD would need, the yardstick of the records' line efficiency.
std::chrono::nanoseconds ProtocolLineTime(const std::vector<std::uint32_t>& payloadSizes);

}  // namespace irdload::unit
