#pragma once
// Dialogs whose answers a test sets in advance; unanswered questions fail the
// test instead of blocking on a modal window.
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <vector>

#include "ui/common/dialogs.h"

namespace qd {

class ScriptedDialogs : public Dialogs {
 public:
  std::deque<std::optional<QString>> openAnswers, saveAnswers;
  std::deque<bool> yesNoAnswers;
  std::deque<Answer> yesNoCancelAnswers;
  std::vector<QString> questions, informations, errors;
  std::vector<FileDialogSpec> fileDialogs;

  std::optional<QString> OpenFile(QWidget*, const FileDialogSpec& options) override {
    fileDialogs.push_back(options);
    return Next(openAnswers, "open");
  }
  std::optional<QString> SaveFile(QWidget*, const FileDialogSpec& options) override {
    fileDialogs.push_back(options);
    return Next(saveAnswers, "save");
  }
  bool AskYesNo(QWidget*, const QString& text) override {
    questions.push_back(text);
    if (yesNoAnswers.empty()) {
      ADD_FAILURE() << "unexpected question: " << text.toStdString();
      return false;
    }
    bool a = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return a;
  }
  Answer AskYesNoCancel(QWidget*, const QString& text) override {
    questions.push_back(text);
    if (yesNoCancelAnswers.empty()) {
      ADD_FAILURE() << "unexpected Yes/No/Cancel question: " << text.toStdString();
      return Answer::Cancel;
    }
    const Answer a = yesNoCancelAnswers.front();
    yesNoCancelAnswers.pop_front();
    return a;
  }
  void Information(QWidget*, const QString& text) override { informations.push_back(text); }
  void Error(QWidget*, const QString& text) override { errors.push_back(text); }

 private:
  static std::optional<QString> Next(std::deque<std::optional<QString>>& q, const char* what) {
    if (q.empty()) {
      ADD_FAILURE() << "unexpected " << what << " file dialog";
      return std::nullopt;
    }
    const bool chosen = q.front().has_value();
    const QString path = chosen ? *q.front() : QString();
    q.pop_front();
    if (!chosen) return std::nullopt;
    return path;
  }
};

// Installs a ScriptedDialogs for the lifetime of the object.
class ScopedScriptedDialogs : public ScriptedDialogs {
 public:
  ScopedScriptedDialogs() { SetAppDialogs(this); }
  ~ScopedScriptedDialogs() override { SetAppDialogs(nullptr); }
};

}  // namespace qd
