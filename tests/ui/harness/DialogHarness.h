// A main dialog with recording prompts, a port inventory of its own (a fake sysfs tree in a
// temporary folder) and an unpaced virtual IRD; the folder also holds the test's upgrade files.
// Its "COM1" is a pseudo-terminal with nothing on the far end, not the machine's /dev/ttyS0:
// tests running side by side would otherwise take that port from each other, and whether it
// opens would depend on the machine.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dialog/PortChoices.h"
#include "engine/Image.h"
#include "engine/ImageWriter.h"
#include "harness/CapturingPresenter.h"
#include "harness/ScriptedChooser.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"
#include "ui/MainDialog.h"

namespace irdload::ui::test {

/// Waits for the download engine; sanitizer builds on a loaded machine are slow.
inline constexpr int kWaitMs = 60000;

/// Runs `act` with the window `find` returns, from inside the event loop of the modal window or
/// popup about to open on this thread (the test itself is then blocked in that window's exec()).
/// `act` gets null when nothing turned up within kWaitMs.
inline void WhenShown(std::function<QWidget*()> find, std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [find = std::move(find), act = std::move(act)] {
    QWidget* shown = nullptr;
    if (!QTest::qWaitFor([&] { return (shown = find()) != nullptr; }, kWaitMs)) shown = nullptr;
    act(shown);
  });
}

class DialogHarness {
 public:
  struct Setup {
    sim::VirtualIrd::Options virtualIrd{};  // unpaced
    std::vector<std::string> foundTtys;     // e.g. "ttyUSB0": listed under the fake sysfs
    std::function<bool(QWidget*, const QString&)> confirm;  // the station window's questions
    bool com1 = true;                                       // false: the device folder has no ttyS0
  };

  DialogHarness() : DialogHarness(Setup{}) {}
  explicit DialogHarness(Setup setup) {
    namespace fs = std::filesystem;
    fs::create_directories(temp_.path() / "sys" / "class" / "tty");
    fs::create_directories(temp_.path() / "dev");
    if (setup.com1) fs::create_symlink(com1_.slavePath(), temp_.path() / "dev" / "ttyS0");
    for (const std::string& tty : setup.foundTtys) {
      fs::create_directories(temp_.path() / "sys" / "class" / "tty" / tty);
    }
    MainDialog::Options options;
    options.presenter = presenter_;
    options.chooser = chooser_;
    options.virtualIrd = std::move(setup.virtualIrd);
    options.confirm = std::move(setup.confirm);
    options.inventory = {temp_.path() / "sys", temp_.path() / "dev"};
    dialog_ = std::make_unique<MainDialog>(std::move(options));
  }

  MainDialog& dialog() { return *dialog_; }
  CapturingPresenter& presenter() { return *presenter_; }
  ScriptedChooser& chooser() { return *chooser_; }
  const std::filesystem::path& dir() const { return temp_.path(); }

  QLabel* Field(int id) { return Find<QLabel>("field_" + std::to_string(id)); }
  QString FieldText(int id) { return Field(id)->text(); }
  QPushButton* Button(int id) { return Find<QPushButton>("button_" + std::to_string(id)); }
  QComboBox* Ports() { return Find<QComboBox>("combo_1000"); }
  QProgressBar* Progress() { return Find<QProgressBar>("progress_1005"); }

  template <class Widget>
  Widget* Find(const std::string& objectName) {
    auto* widget = dialog_->findChild<Widget*>(QString::fromStdString(objectName));
    if (widget == nullptr) throw std::logic_error("no control " + objectName);
    return widget;
  }

  /// A path in the test's folder (the file need not exist).
  QString PathOf(const std::string& name) const {
    return QString::fromStdString((temp_.path() / name).string());
  }
  QString DevicePath(const std::string& tty) const {
    return QString::fromStdString((temp_.path() / "dev" / tty).string());
  }
  /// Writes an upgrade file of `payloadBytes` pattern bytes and returns its path.
  QString WriteImage(const std::string& name, std::uint32_t typeCode, std::size_t payloadBytes,
                     std::uint32_t seed = 1) {
    return QString::fromStdString(
        temp_.WriteBytes(name, ComposeImage(typeCode, PatternPayload(payloadBytes, seed))));
  }

  /// Presses "Открыть" with the chooser primed to give `answers` (nothing = cancel).
  void ClickOpen(std::initializer_list<std::optional<QString>> answers) {
    for (const auto& answer : answers) chooser_->Answer(answer);
    QTest::mouseClick(Button(1003), Qt::LeftButton);
  }
  void ClickSend() { QTest::mouseClick(Button(1002), Qt::LeftButton); }
  void SelectPort(const QString& label) { Ports()->setCurrentIndex(Ports()->findText(label)); }
  void SelectVirtualIrd() { SelectPort(QString::fromLatin1(kVirtualIrdLabel)); }

 private:
  irdload::test::TempDir temp_;
  irdload::test::PtyPair com1_;
  std::shared_ptr<CapturingPresenter> presenter_ = std::make_shared<CapturingPresenter>();
  std::shared_ptr<ScriptedChooser> chooser_ = std::make_shared<ScriptedChooser>();
  std::unique_ptr<MainDialog> dialog_;  // last: goes first, before the prompts and the folder
};

}  // namespace irdload::ui::test
