#include "platform/recognizer/chinese_script.h"

#include <gtest/gtest.h>

namespace brindlewox {
namespace {

TEST(ChineseScript, ALineMostlyInTraditionalBecomesTraditionalThroughout) {
  const std::optional<ChineseScript> script = ChineseScript::load();
  ASSERT_TRUE(script.has_value()) << "OpenCC's tables did not open";
  // 經濟發護 only traditional, 与环 only simplified: four against two.
  EXPECT_EQ(script->consistent("經濟發展与环境保護"), "經濟發展與環境保護");
  // Taiwan's forms: 為, not OpenCC's own 爲.
  EXPECT_EQ(script->consistent("為什麼没有"), "為什麼沒有");
}

TEST(ChineseScript, OtherLinesStayAsRead) {
  const std::optional<ChineseScript> script = ChineseScript::load();
  ASSERT_TRUE(script.has_value()) << "OpenCC's tables did not open";
  // One traditional character among simplified ones is left alone.
  EXPECT_EQ(script->consistent("这是简体中文測试"), "这是简体中文測试");
  // Equal counts, no script-specific characters, no Chinese at all.
  EXPECT_EQ(script->consistent("學习"), "學习");
  EXPECT_EQ(script->consistent("中文"), "中文");
  EXPECT_EQ(script->consistent("Quarterly report 2026, page 1."), "Quarterly report 2026, page 1.");
  EXPECT_EQ(script->consistent(""), "");
}

}  // namespace
}  // namespace brindlewox
