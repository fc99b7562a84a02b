#include "ui/QtFileChooser.h"

#include <QFileInfo>

namespace irdload::ui {

QStringList NameFiltersFromWindowsFilter(const QString& filter) {
  const QStringList parts = filter.split(u'|', Qt::SkipEmptyParts);
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
    for (QString& pattern : patterns) {
      if (pattern == QStringLiteral("*.*")) pattern = QStringLiteral("*");
    }
    filters << parts[i] + QStringLiteral(" (") + patterns.join(u' ') + u')';
  }
  return filters;
}

std::unique_ptr<QFileDialog> QtFileChooser::MakeDialog(QWidget* parent,
                                                       const FileQuestion& question) const {
  auto dialog = std::make_unique<QFileDialog>(parent, question.title);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  // A typed name is taken as it is: neither the file nor its folder has to exist yet.
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setDefaultSuffix(QStringLiteral("uuc"));
  const QStringList filters = NameFiltersFromWindowsFilter(QString::fromLatin1(kWindowsFilter));
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  dialog->setNameFilters(filters);
  // With the patterns hidden the dialog names a filter by what it shows, which each full filter
  // starts with.
  QString again = filters.first();
  for (const QString& filter : filters) {
    if (!lastNameFilter_.isEmpty() && filter.startsWith(lastNameFilter_ + QStringLiteral(" ("))) {
      again = filter;
    }
  }
  dialog->selectNameFilter(again);
  if (!question.startPath.isEmpty()) {
    const QFileInfo start(question.startPath);
    dialog->setDirectory(start.absolutePath());
    dialog->selectFile(start.absoluteFilePath());
  }
  return dialog;
}

std::optional<QString> QtFileChooser::Choose(QWidget* parent, const FileQuestion& question) {
  const auto dialog = MakeDialog(parent, question);
  const bool accepted = dialog->exec() == QDialog::Accepted;
  lastNameFilter_ = dialog->selectedNameFilter();
  const QStringList files = dialog->selectedFiles();
  if (!accepted || files.isEmpty()) return std::nullopt;
  return files.first();
}

}  // namespace irdload::ui
