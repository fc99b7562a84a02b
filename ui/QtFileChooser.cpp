#include "ui/QtFileChooser.h"

#include <QFileInfo>

namespace irdload::ui {

QStringList NameFiltersFromWindowsFilter(const QString& filter) {
  const QStringList parts = filter.split(u'|', Qt::SkipEmptyParts);
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    // The description repeats the patterns in its own notation; Qt reads patterns from the
    // parentheses, so those must hold the real list.
    const qsizetype open = description.lastIndexOf(u'(');
    if (open >= 0 && description.endsWith(u')')) description.truncate(open);
    const QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
    filters << description + u'(' + patterns.join(u' ') + u')';
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
  dialog->setNameFilters(filters);
  dialog->selectNameFilter(lastNameFilter_.isEmpty() ? filters.first() : lastNameFilter_);
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
