// The dialog's port list, kept live: adapters plugged in while the dialog is open appear, those
// pulled out go (the one selected stays, greyed, until it returns or another is chosen), and a
// port that would not open is marked with the operating system's reason until a start opens one.
#pragma once

#include <QComboBox>
#include <QFileSystemWatcher>
#include <QObject>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dialog/PortChoices.h"
#include "ports/PortInventory.h"

namespace irdload::ui {

class PortList final : public QObject {
  Q_OBJECT

 public:
  /// Fills `combo` and selects its first entry; watches `roots`' device folder for adapters.
  PortList(QComboBox& combo, InventoryRoots roots, std::vector<std::string> extraPorts);

  /// Any thread: the entry selected now (the worker reads it when it chains a pair's second file).
  PortChoice Selected() const;
  /// Looks again for adapters (the watcher calls it; tests may too).
  void Refresh();

  /// A start could not open `name`: mark the selected entry with the reason.
  void MarkOpenFailure(const QString& message, const QString& detail);
  /// A start opened a port: no mark any more.
  void ClearOpenFailure();
  bool openFailed() const { return openFailed_; }

 private:
  void Fill(const std::vector<PortChoice>& found, const std::optional<PortChoice>& vanished);
  void Watch();
  void OnSelected(int index);

  QComboBox& combo_;
  const InventoryRoots roots_;
  const std::vector<std::string> extraPorts_;
  QFileSystemWatcher watcher_;
  std::vector<PortChoice> entries_;  // the combo's items, in order
  bool holdsVanished_ = false;       // an adapter that went away is still listed, greyed
  bool openFailed_ = false;

  mutable std::mutex mu_;
  PortChoice selected_{PortChoice::Kind::kClassicCom, "COM1", {}, {}};
};

}  // namespace irdload::ui
