// The station window: a production bench in the dialog program. The operator picks the upgrade,
// the sockets (found adapters, COM names, virtual IRDs) and a report folder; each socket gets a
// tile with its own start and stop. The ports run on the same station as the command line's,
// through the same contract (Go, Give, StopUnit, StopNow; its events and snapshots through
// StationFeed); this window holds no station logic of its own, only draws.
#pragma once

#include <QFileSystemWatcher>
#include <QPointer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ports/PortInventory.h"
#include "sim/VirtualIrd.h"
#include "station/Station.h"
#include "ui/OperatorPrompts.h"
#include "ui/VirtualIrdRack.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QSpinBox;

namespace irdload::ui {

class StationFeed;
class StationTile;
class TileGrid;

/// What a StationWindow is built with; the defaults are the real program's.
struct StationWindowOptions {
  /// Null: real message boxes and file dialogs.
  std::shared_ptr<MessagePresenter> presenter;
  std::shared_ptr<FileChooser> chooser;
  /// Asks a yes-or-no question (closing while units load); null: a real question box.
  std::function<bool(QWidget*, const QString&)> confirm;
  InventoryRoots inventory;
  /// Device paths listed after the ports found.
  std::vector<std::string> extraPorts;
  /// The virtual IRDs' line: paced like a real one so that the operator sees the units load.
  sim::VirtualIrd::Options virtualIrd{.baud = 115200};
  int virtualIrds = 0;  ///< virtual IRDs at the start, chosen
  /// The upgrade chosen at the start (FILE, or FILE and SECOND); unchecked until a start.
  std::vector<std::string> files;
  std::string reportDir;
};

class StationWindow final : public QWidget {
  Q_OBJECT

 public:
  using Options = StationWindowOptions;

  explicit StationWindow(Options options = {}, QWidget* parent = nullptr);
  /// Stops every unit at once; records say so.
  ~StationWindow() override;

  // The operator's actions, for the buttons and for tests.
  /// Asks for a ".uuc", or a ".u01" and its ".u02"; false when nothing usable was chosen.
  bool ChooseFiles();
  void SetFiles(std::vector<std::string> files);
  void SetReportFolder(const QString& folder);
  void SetNextUnit(station::NextUnit mode);
  void SetAskUnitId(bool ask);
  /// Virtual IRDs on the list (and chosen), 0..kMaxVirtualIrds.
  void SetVirtualIrds(int count);
  /// Chooses the socket that the list shows as `label`; false when there is none.
  bool ChoosePort(const QString& label, bool chosen = true);
  /// Starts the station when it is not running and gives every socket that waits its go.
  void StartAll();
  /// Every running unit ends now; the station stops.
  void StopAll();
  void StartPort(int tile);
  void StopPort(int tile);
  /// A unit id, as a scanner types it: the socket that has waited longest takes it.
  void GiveUnitId(const QString& id);
  /// Drains the ports' events and redraws the tiles (the timer and the wake-up call it).
  void Refresh();

  bool running() const { return station_ != nullptr; }
  /// Sockets whose unit runs now.
  int loading() const;
  int tileCount() const { return static_cast<int>(tiles_.size()); }
  StationTile* tile(int i) const { return tiles_[static_cast<std::size_t>(i)]; }
  QString tileLabel(int i) const;
  VirtualIrdRack& rack() { return rack_; }
  /// Units loaded, failed and stopped by the operator over every run of the station in this
  /// window; a stopped unit is not counted as failed.
  std::uint32_t loaded() const { return loaded_; }
  std::uint32_t failed() const { return failed_; }
  std::uint32_t stopped() const { return stopped_; }
  TileGrid& grid() const { return *grid_; }
  QString summaryText() const;
  QString logText() const;

  static constexpr int kMaxVirtualIrds = 16;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Socket {
    QString label;       ///< the list's and tile's name
    std::string path;    ///< what the station opens
    QString details;     ///< tooltip
    int virtualIrd = 0;  ///< 1.. for a virtual IRD's socket
    QListWidgetItem* item = nullptr;
  };

  void FillPorts();
  void RebuildTiles();
  bool StartStation();
  void EndStation();
  void OnEvent(const unit::PortEvent& event);
  void OnSnapshot(const station::StationSnapshot& snapshot);
  void EndIfFinished();
  void Log(const QString& line);
  void Message(const QString& text, const QString& detail);
  void UpdateControls();
  std::vector<std::size_t> ChosenSockets() const;

  Options options_;
  VirtualIrdRack rack_;
  std::vector<Socket> sockets_;
  std::vector<std::size_t> tileSockets_;  // the socket of each tile, in order
  std::vector<StationTile*> tiles_;

  QLabel* files_;
  QPushButton* choose_;
  QLineEdit* report_;
  QPushButton* browse_;
  QComboBox* nextUnit_;
  QCheckBox* askId_;
  QSpinBox* virtualCount_;
  QListWidget* ports_;
  QLineEdit* unitId_;
  QPushButton* startAll_;
  QPushButton* stopAll_;
  QScrollArea* scroll_;
  TileGrid* grid_;
  QLabel* hint_;
  QPlainTextEdit* log_;
  QLabel* summary_;
  QFileSystemWatcher watcher_;

  std::unique_ptr<station::Station> station_;
  std::unique_ptr<StationFeed> feed_;  // goes before the station
  station::StationSnapshot snapshot_;  // the station's, at the last refresh
  station::NextUnit runMode_ = station::NextUnit::Prompt;
  std::uint32_t loaded_ = 0, failed_ = 0, stopped_ = 0;
};

}  // namespace irdload::ui
