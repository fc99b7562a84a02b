// The station window's tiles in as many columns as the width holds (each tile no narrower than
// its minimum), rows below each other: the window scrolls down, never sideways.
#pragma once

#include <QWidget>
#include <vector>

namespace irdload::ui {

class TileGrid final : public QWidget {
  Q_OBJECT

 public:
  /// `tileMinimumWidth`: the narrowest a tile may be laid out.
  TileGrid(int tileMinimumWidth, QWidget* parent = nullptr);

  /// Columns that `width` pixels hold: at least one.
  static int ColumnsFor(int width, int tileMinimumWidth, int spacing);

  /// The tiles to lay out, in order; the grid takes them as its children.
  void SetTiles(std::vector<QWidget*> tiles);
  /// Shown across the grid while it has no tiles.
  void SetPlaceholder(QWidget* placeholder);

  int columns() const { return ColumnsFor(width(), tileMinimumWidth_, spacing()); }
  int tileMinimumWidth() const { return tileMinimumWidth_; }
  int spacing() const { return 6; }

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // Each row's height at `width`.
  std::vector<int> RowHeights(int width) const;
  void Arrange();

  const int tileMinimumWidth_;
  std::vector<QWidget*> tiles_;
  QWidget* placeholder_ = nullptr;
};

}  // namespace irdload::ui
