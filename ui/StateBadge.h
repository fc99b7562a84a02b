// A socket's state at a glance: a coloured badge with a shape and a word, so that it reads the
// same to an operator who cannot tell red from green, and on a greyscale screen.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace irdload::ui {

/// What a socket is doing, as the operator tells it apart from across the bench.
enum class TileLook {
  Loading,            ///< a unit loads: a triangle
  Loaded,             ///< its last unit loaded: a tick
  Failed,             ///< its last unit failed, or the port halted: a cross
  Stopped,            ///< its last unit, or the port, was stopped by the operator: a square
  WaitingForAdapter,  ///< the adapter is not there: a ring
  WaitingForUnit,     ///< waiting for the operator's go (or a unit's id): two bars
};

/// The look's colour: from a palette whose colours stay apart for the common colour blindnesses.
QColor LookColour(TileLook look);

class StateBadge final : public QWidget {
  Q_OBJECT

 public:
  explicit StateBadge(QWidget* parent = nullptr);

  void Show(TileLook look, const QString& word);
  TileLook look() const { return look_; }
  QString word() const { return word_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TileLook look_ = TileLook::WaitingForUnit;
  QString word_;
};

}  // namespace irdload::ui
