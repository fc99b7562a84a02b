// The About box: program name and version, copyright, credits and contact, with the icon.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutDialog;
}

namespace irdload::ui {

class AboutDialog final : public QDialog {
  Q_OBJECT

 public:
  /// Centred on `owner` when one is given.
  explicit AboutDialog(QWidget* owner = nullptr);
  ~AboutDialog() override;

 private:
  std::unique_ptr<Ui::AboutDialog> ui_;
};

}  // namespace irdload::ui
