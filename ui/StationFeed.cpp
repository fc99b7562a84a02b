#include "ui/StationFeed.h"

#include <QSocketNotifier>

namespace irdload::ui {

StationFeed::StationFeed(station::Station& station, std::chrono::milliseconds tick, OnEvent onEvent,
                         OnSnapshot onSnapshot, QObject* parent)
    : QObject(parent),
      station_(station),
      subscription_(station.Subscribe()),
      onEvent_(std::move(onEvent)),
      onSnapshot_(std::move(onSnapshot)),
      wake_(new QSocketNotifier(subscription_->wakeFd(), QSocketNotifier::Read, this)) {
  connect(wake_, &QSocketNotifier::activated, this, &StationFeed::Refresh);
  tick_.setInterval(tick);
  connect(&tick_, &QTimer::timeout, this, &StationFeed::Refresh);
  tick_.start();
}

void StationFeed::Refresh() {
  for (const unit::PortEvent& e : subscription_->Take()) onEvent_(e);
  onSnapshot_(station_.Snapshot());
  emit refreshed();
}

}  // namespace irdload::ui
