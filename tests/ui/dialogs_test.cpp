#include <gtest/gtest.h>

#include "tests/ui/scripted_dialogs.h"

namespace qd {
namespace {

TEST(ScriptedDialogs, AnswersInOrderAndRecordsMessages) {
  ScriptedDialogs d;
  d.saveAnswers = {QStringLiteral("/tmp/a.pln"), std::nullopt};
  d.yesNoAnswers = {false};
  EXPECT_EQ(d.SaveFile(nullptr, {}).value(), QStringLiteral("/tmp/a.pln"));
  EXPECT_FALSE(d.SaveFile(nullptr, {}).has_value());
  EXPECT_FALSE(d.AskYesNo(nullptr, QStringLiteral("q")));
  d.Error(nullptr, QStringLiteral("File not found"));
  ASSERT_EQ(d.errors.size(), 1u);
  EXPECT_EQ(d.errors.front(), QStringLiteral("File not found"));
  EXPECT_EQ(d.questions.front(), QStringLiteral("q"));
}

}  // namespace
}  // namespace qd
