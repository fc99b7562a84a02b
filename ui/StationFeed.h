// The station window's one way to a running station's data: a subscription drained on the
// window's event loop (woken by the subscription's descriptor, and on a tick for progress), each
// event handed on, and the snapshot after them. The window keeps no station state of its own.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

#include "station/Station.h"

class QSocketNotifier;

namespace irdload::ui {

class StationFeed final : public QObject {
  Q_OBJECT

 public:
  using OnEvent = std::function<void(const unit::PortEvent&)>;
  using OnSnapshot = std::function<void(const station::StationSnapshot&)>;

  /// Subscribes to `station`, which must outlive the feed.
  StationFeed(station::Station& station, std::chrono::milliseconds tick, OnEvent onEvent,
              OnSnapshot onSnapshot, QObject* parent = nullptr);

  /// Hands on what waits, then the snapshot; then `refreshed`.
  void Refresh();

 signals:
  /// After each Refresh: connect with a queued connection to act on a finished station.
  void refreshed();

 private:
  station::Station& station_;
  const std::shared_ptr<station::Subscription> subscription_;
  const OnEvent onEvent_;
  const OnSnapshot onSnapshot_;
  QSocketNotifier* wake_;
  QTimer tick_;
};

}  // namespace irdload::ui
