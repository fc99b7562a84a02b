#include "ui/AboutDialog.h"

#include "ui/DialogUnits.h"
#include "ui/ProgramIcon.h"
#include "ui_AboutDialog.h"

namespace irdload::ui {

AboutDialog::AboutDialog(QWidget* owner)
    : QDialog(owner), ui_(std::make_unique<Ui::AboutDialog>()) {
  RegisterProgramIcon();
  ui_->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  FitFormToFont(*this);
  ui_->icon_128->resize(ui_->icon_128->pixmap().size());  // an icon control takes the icon's size
  connect(ui_->button_1, &QPushButton::clicked, this, &QDialog::accept);
}

AboutDialog::~AboutDialog() = default;

}  // namespace irdload::ui
