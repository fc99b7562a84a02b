#include "ui/TileGrid.h"

#include <QResizeEvent>
#include <algorithm>
#include <numeric>

namespace irdload::ui {
namespace {

int TileHeight(const QWidget& tile, int width) {
  const int h = tile.hasHeightForWidth() ? tile.heightForWidth(width) : -1;
  return std::max({h, tile.sizeHint().height(), tile.minimumSizeHint().height()});
}

}  // namespace

TileGrid::TileGrid(int tileMinimumWidth, QWidget* parent)
    : QWidget(parent), tileMinimumWidth_(std::max(1, tileMinimumWidth)) {
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

int TileGrid::ColumnsFor(int width, int tileMinimumWidth, int spacing) {
  if (tileMinimumWidth <= 0) return 1;
  return std::max(1, (width + spacing) / (tileMinimumWidth + spacing));
}

void TileGrid::SetTiles(std::vector<QWidget*> tiles) {
  tiles_ = std::move(tiles);
  for (QWidget* t : tiles_) {
    t->setParent(this);
    t->show();
  }
  if (placeholder_ != nullptr) placeholder_->setVisible(tiles_.empty());
  updateGeometry();
  Arrange();
}

void TileGrid::SetPlaceholder(QWidget* placeholder) {
  placeholder_ = placeholder;
  placeholder_->setParent(this);
  placeholder_->setVisible(tiles_.empty());
  Arrange();
}

std::vector<int> TileGrid::RowHeights(int width) const {
  const int columns = ColumnsFor(width, tileMinimumWidth_, spacing());
  const int tileWidth = std::max(tileMinimumWidth_, (width - (columns - 1) * spacing()) / columns);
  std::vector<int> rows((tiles_.size() + columns - 1) / columns, 0);
  for (std::size_t i = 0; i < tiles_.size(); ++i) {
    int& row = rows[i / static_cast<std::size_t>(columns)];
    row = std::max(row, TileHeight(*tiles_[i], tileWidth));
  }
  return rows;
}

int TileGrid::heightForWidth(int width) const {
  if (tiles_.empty()) {
    return placeholder_ != nullptr ? placeholder_->sizeHint().height() : 0;
  }
  const std::vector<int> rows = RowHeights(width);
  return std::accumulate(rows.begin(), rows.end(), 0) +
         static_cast<int>(rows.size() - 1) * spacing();
}

QSize TileGrid::sizeHint() const {
  return {tileMinimumWidth_, heightForWidth(tileMinimumWidth_)};
}

QSize TileGrid::minimumSizeHint() const {
  // Narrower than one tile the tile is cut; never wider, so that the window can narrow.
  return {tileMinimumWidth_, 0};
}

void TileGrid::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Arrange();
}

bool TileGrid::event(QEvent* event) {
  // A tile's texts changed its height: the rows and the scroll area's room follow.
  if (event->type() == QEvent::LayoutRequest) {
    updateGeometry();
    Arrange();
  }
  return QWidget::event(event);
}

void TileGrid::Arrange() {
  if (placeholder_ != nullptr && tiles_.empty()) {
    placeholder_->setGeometry(rect());
    return;
  }
  const int columns = this->columns();
  const int tileWidth =
      std::max(tileMinimumWidth_, (width() - (columns - 1) * spacing()) / columns);
  const std::vector<int> rows = RowHeights(width());
  int y = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (int c = 0; c < columns; ++c) {
      const std::size_t i = r * static_cast<std::size_t>(columns) + static_cast<std::size_t>(c);
      if (i >= tiles_.size()) break;
      tiles_[i]->setGeometry(c * (tileWidth + spacing()), y, tileWidth, rows[r]);
    }
    y += rows[r] + spacing();
  }
}

}  // namespace irdload::ui
