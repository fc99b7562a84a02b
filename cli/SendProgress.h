// What `send` shows of a download, as pure functions of its figures and the room there is: the
// progress line a terminal redraws in place, the log's progress line, and the summary at the
// end. Where the figures come from (the engine's events, a clock) is the console host's matter.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace irdload::cli {

/// A download's figures at one moment, for the file in flight.
struct SendFigures {
  std::string status;  ///< the engine's status line
  std::uint32_t packetsDone = 0, packets = 0;
  std::uint64_t bytesDone = 0, bytes = 0;
  /// The elapsed clock, once the IRD has answered.
  std::optional<std::chrono::seconds> elapsed;
  /// Once they can be measured (a second of packets at least).
  std::optional<double> bytesPerSecond;
  std::optional<std::chrono::seconds> left;
  /// The retry counter: failed link steps in a row, as the engine counts them.
  int retryCount = 0;
  /// While the IRD has not answered: the connect requests sent for this file.
  std::optional<std::uint64_t> connectRequests;
};

/// The figures of the whole job (both files of a pair) at its end.
struct SendTotals {
  std::uint32_t packetsDone = 0, packets = 0;
  std::uint64_t bytesDone = 0, bytes = 0;
  std::optional<std::chrono::milliseconds> elapsed;  ///< what the elapsed clock ran
  std::optional<double> bytesPerSecond;              ///< as the progress line measured it
  /// What the line did, as the engine counted it: headers and packets the IRD rejected, replies
  /// it repeated (answered again), replies that came late.
  std::uint32_t rejections = 0, repeats = 0, lateReplies = 0;
};

/// The terminal's progress line, `limit` columns at most: the state and the packets always;
/// then, as room allows, the connect requests or the retry counter (from 2 up: one failed step
/// is a healthy line's beat), the bytes, the time left, the rate and the elapsed time (dropped
/// in the reverse order).
std::string ProgressLine(const SendFigures& figures, std::size_t limit);

/// The log's line for a step of progress: as the terminal's, led by the share of packets sent
/// ("40%") instead of the state, which in the data loop changes with every packet.
std::string ProgressLogLine(const SendFigures& figures, std::size_t limit);

/// The last line: "Sent P/P packets  B/B bytes  in MM:SS  R KiB/s", and what the line did when
/// it did anything ("2 rejections  1 reply repeated  3 late replies"), as room allows (the
/// rejections and repeats before the bytes, the late replies with the time).
std::string SummaryLine(const SendTotals& totals, std::size_t limit);

/// "MM:SS" (minutes go past 59: "75:03").
std::string MinutesSeconds(std::chrono::seconds duration);

/// Packets or bytes sent of a total, the count padded to the total's digits so that the text
/// keeps its width as the count grows: " 40/120".
std::string CountOf(std::uint64_t done, std::uint64_t total);

/// "11.2 KiB/s".
std::string Rate(double bytesPerSecond);

}  // namespace irdload::cli
