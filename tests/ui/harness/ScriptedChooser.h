// Answers file questions from a script (a path, or nothing for a cancelled dialog) and records
// the questions asked. An exhausted script cancels.
#pragma once

#include <QString>
#include <deque>
#include <optional>
#include <vector>

#include "ui/OperatorPrompts.h"

namespace irdload::ui::test {

class ScriptedChooser final : public FileChooser {
 public:
  std::optional<QString> Choose(QWidget*, const FileQuestion& question) override {
    questions_.push_back(question);
    if (answers_.empty()) return std::nullopt;
    const bool cancelled = !answers_.front().has_value();
    const QString path = answers_.front().value_or(QString());
    answers_.pop_front();
    if (cancelled) return std::nullopt;
    return path;
  }

  void Answer(std::optional<QString> path) { answers_.push_back(std::move(path)); }
  const std::vector<FileQuestion>& questions() const { return questions_; }
  std::size_t unanswered() const { return answers_.size(); }

 private:
  std::deque<std::optional<QString>> answers_;
  std::vector<FileQuestion> questions_;
};

}  // namespace irdload::ui::test
