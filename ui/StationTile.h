// One socket of the station window: its label and device, a badge for what it is doing (colour,
// shape and word), the progress of the file on the wire with packets, rate and time left, how
// its last unit ended, the units loaded, failed and stopped, and its own start and stop.
#pragma once

#include <QFrame>
#include <QString>
#include <chrono>

class QFontMetrics;

#include "station/StationPlan.h"
#include "station/StationSnapshot.h"
#include "ui/StateBadge.h"
#include "unit/UnitEvents.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace irdload::ui {

/// What a tile shows, as text, from a port's row: for the tile and for tests.
struct TileTexts {
  QString state;    ///< "Loading file 1 of 2", "Press Start for the next unit", ...
  QString packets;  ///< "Packets 12 of 64", empty before a transfer
  QString rate;     ///< "11.2 KiB/s", empty when not moving
  QString left;     ///< "0:04 left", empty when unknown
  QString counts;   ///< "Loaded 3 · Failed 1 · Stopped 0"
  TileLook look = TileLook::WaitingForUnit;
  QString word;          ///< the badge's word: "Loading", "Loaded", "Failed", ...
  bool loading = false;  ///< a unit runs: the stop button works
  bool asking = false;   ///< the port waits for the operator: the start button works
};

TileTexts DescribeRow(const station::PortSnapshot& row, station::NextUnit mode, int files,
                      std::chrono::steady_clock::time_point now);

/// How a unit ended, in a few words: "Loaded SN-7", "Failed: the IRD reported failure", ...
QString DescribeEnd(const unit::UnitEnded& end);

class StationTile final : public QFrame {
  Q_OBJECT

 public:
  StationTile(const QString& label, const QString& device, QWidget* parent = nullptr);

  /// The row as the station now has it; `running`: the station runs (else both buttons wait
  /// for it, the start one starting it).
  void Show(const TileTexts& texts, const station::PortSnapshot& row, bool running);
  void ShowEnd(const unit::UnitEnded& end);
  /// Before the station runs: the socket is chosen and idle.
  void ShowIdle();

  QPushButton* startButton() const { return start_; }
  StateBadge* badge() const { return badge_; }
  QPushButton* stopButton() const { return stop_; }
  QString stateText() const;
  QString lastText() const;

  /// The narrowest a tile is laid out, for the window's columns: its texts stay readable.
  static int MinimumWidth(const QFontMetrics& metrics);

 signals:
  void startClicked();
  void stopClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 public:
  /// Enables the buttons; a button that loses its use while it has the focus hands it to the
  /// tile itself, not to the next tile's button, so that a second key press does nothing.
  void SetButtons(bool start, bool stop);

 private:
  StateBadge* badge_;
  QLabel* state_;
  QProgressBar* progress_;
  QLabel* packets_;
  QLabel* rate_;
  QLabel* left_;
  QLabel* last_;
  QLabel* counts_;
  QPushButton* start_;
  QPushButton* stop_;
};

}  // namespace irdload::ui
