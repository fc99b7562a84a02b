#include "ui/PortList.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QListView>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QStyle>
#include <algorithm>

namespace irdload::ui {
namespace {

QString FromPath(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace

PortList::PortList(QComboBox& combo, InventoryRoots roots, std::vector<std::string> extraPorts)
    : combo_(combo), roots_(std::move(roots)), extraPorts_(std::move(extraPorts)) {
  // Marking a row must not make it taller, or the entries move under the mouse: the mark is a
  // line of text high and the open list gives every row the same height.
  const int line = combo_.fontMetrics().height();
  combo_.setIconSize(QSize(line, line));
  if (auto* rows = qobject_cast<QListView*>(combo_.view())) rows->setUniformItemSizes(true);
  Fill(ListPortChoices(roots_, extraPorts_), std::nullopt);
  combo_.setCurrentIndex(0);
  OnSelected(combo_.currentIndex());
  connect(&combo_, &QComboBox::currentIndexChanged, this, &PortList::OnSelected);
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { Refresh(); });
  Watch();
}

PortChoice PortList::Selected() const {
  std::lock_guard lk(mu_);
  return selected_;
}

void PortList::Watch() {
  // udev makes the device node first and its stable links after it, in folders that may not
  // exist yet: watch each one as it appears.
  const std::filesystem::path serial = roots_.dev / "serial";
  for (const std::filesystem::path& folder :
       {roots_.dev, serial, serial / "by-id", serial / "by-path"}) {
    const QString path = FromPath(folder.string());
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec) && !watcher_.directories().contains(path)) {
      watcher_.addPath(path);
    }
  }
}

void PortList::Refresh() {
  Watch();
  const std::vector<PortChoice> found = ListPortChoices(roots_, extraPorts_);
  const PortChoice current = Selected();
  std::optional<PortChoice> vanished;
  const bool stillThere = std::any_of(found.begin(), found.end(), [&](const PortChoice& c) {
    return c.kind == current.kind && c.label == current.label;
  });
  if (current.kind == PortChoice::Kind::kFoundPort && !stillThere) vanished = current;
  Fill(found, vanished);
}

void PortList::Fill(const std::vector<PortChoice>& found,
                    const std::optional<PortChoice>& vanished) {
  const PortChoice current = Selected();
  const QSignalBlocker quiet(&combo_);
  entries_ = found;
  // The list ends with the virtual IRD; an adapter that went away stays just before it.
  if (vanished) entries_.insert(entries_.end() - 1, *vanished);
  combo_.clear();
  for (const PortChoice& entry : entries_) {
    combo_.addItem(FromPath(entry.label));
    if (!entry.details.empty()) {
      combo_.setItemData(combo_.count() - 1, FromPath(entry.details), Qt::ToolTipRole);
    }
  }
  holdsVanished_ = vanished.has_value();
  if (vanished) {
    const int at = static_cast<int>(entries_.size()) - 2;
    if (auto* model = qobject_cast<QStandardItemModel*>(combo_.model())) {
      model->item(at)->setEnabled(false);
    }
    combo_.setItemData(at, tr("Not connected now: %1").arg(FromPath(vanished->details)),
                       Qt::ToolTipRole);
  }
  int index = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].kind == current.kind && entries_[i].label == current.label) {
      index = static_cast<int>(i);
    }
  }
  combo_.setCurrentIndex(index);
  // Device names are wider than the box: the open list shows them whole.
  QAbstractItemView* list = combo_.view();
  list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth());
  if (openFailed_)
    combo_.setItemIcon(index, combo_.style()->standardIcon(QStyle::SP_MessageBoxWarning));
  {
    std::lock_guard lk(mu_);
    selected_ = entries_[static_cast<std::size_t>(index)];
  }
}

void PortList::OnSelected(int index) {
  {
    std::lock_guard lk(mu_);
    if (index >= 0 && static_cast<std::size_t>(index) < entries_.size()) {
      selected_ = entries_[static_cast<std::size_t>(index)];
    } else {
      // No selection: a start opens the classic name of index -1, "COM0".
      selected_ = {PortChoice::Kind::kClassicCom, "", {}, {}};
    }
  }
  // Another entry was chosen: an adapter that went away need not be kept any more.
  if (holdsVanished_)
    QMetaObject::invokeMethod(
        this, [this] { Refresh(); }, Qt::QueuedConnection);
}

void PortList::MarkOpenFailure(const QString& message, const QString& detail) {
  openFailed_ = true;
  const int index = combo_.currentIndex();
  const QString reason = detail.isEmpty() ? message : message + u'\n' + detail;
  if (index >= 0) {
    combo_.setItemIcon(index, combo_.style()->standardIcon(QStyle::SP_MessageBoxWarning));
    combo_.setItemData(index, reason, Qt::ToolTipRole);
  }
  combo_.setToolTip(reason);
}

void PortList::ClearOpenFailure() {
  if (!openFailed_) return;
  openFailed_ = false;
  for (int i = 0; i < combo_.count(); ++i) combo_.setItemIcon(i, QIcon());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    combo_.setItemData(static_cast<int>(i),
                       entries_[i].details.empty() ? QVariant() : FromPath(entries_[i].details),
                       Qt::ToolTipRole);
  }
  combo_.setToolTip(QString());
}

}  // namespace irdload::ui
