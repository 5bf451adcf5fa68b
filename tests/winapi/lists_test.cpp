// List and combo boxes through the toolkit operations: search rules, reads
// with and without a selection, insert and delete results, item values.
#include <cstring>
#include <string>
#include <vector>

#include "fixtures.h"

using namespace fixtures;

namespace {

class Lists : public Manager {
 protected:
  void SetUp() override {
    Manager::SetUp();
    dlg = openOuter();
    ASSERT_NE(dlg, 0u);
  }
  void fill(int32_t id, std::vector<const char*> texts, bool combo) {
    int32_t value = 1;
    for (const char* t : texts) combo ? pWriteCbo(dlg, id, t, value++) : pWriteLst(dlg, id, t, value++);
  }
  HWND dlg = 0;
};

struct FindCase {
  const char* what;
  std::vector<const char*> rows;
  const char* wanted;
  int32_t listFinds;   // after row 0, wrapping round
  int32_t comboFinds;  // from the top
};

const FindCase kFindCases[] = {
    {"single match", {"a", "b", "c"}, "b", 1, 1},
    {"letter case ignored", {"Alpha", "BETA"}, "beta", 1, 1},
    {"row 0 only when nothing later matches", {"x", "y"}, "X", 0, 0},
    {"duplicates: list takes the first after row 0", {"dup", "other", "dup", "dup"}, "dup", 2, 0},
    {"exact text, not a prefix", {"abc", "ab"}, "ab", 1, 1},
    {"absent", {"a", "b"}, "z", -1, -1},
    {"empty box", {}, "a", -1, -1},
    {"upper half of the code page folds too", {"\xC9t\xE9", "\xE9T\xC9"}, "\xE9t\xE9", 1, 0},
};

class Find : public Lists, public ::testing::WithParamInterface<FindCase> {};

TEST_P(Find, SelectsTheMatchTheRulesName) {
  const FindCase& c = GetParam();
  fill(kList, c.rows, false);
  fill(kCombo, c.rows, true);
  EXPECT_EQ(pSetLst(dlg, kList, c.wanted), c.listFinds);
  EXPECT_EQ(headless::selection(dlg, kList), c.listFinds);
  EXPECT_EQ(headless::focusedId(), kList);
  EXPECT_EQ(pSetCbo(dlg, kCombo, c.wanted), c.comboFinds);
  EXPECT_EQ(headless::selection(dlg, kCombo), c.comboFinds);
  EXPECT_EQ(headless::focusedId(), kCombo);
}

INSTANTIATE_TEST_SUITE_P(Rules, Find, ::testing::ValuesIn(kFindCases),
                         [](const auto& info) { return caseName(info.param.what); });

TEST_F(Lists, FailedSearchKeepsTheSelection) {
  fill(kList, {"a", "b"}, false);
  pSetLst(dlg, kList, "b");
  EXPECT_EQ(pSetLst(dlg, kList, "zzz"), -1);
  EXPECT_EQ(headless::selection(dlg, kList), 1);
}

TEST_F(Lists, ReadGivesTextAndValueOfTheSelection) {
  for (bool combo : {false, true}) {
    int32_t id = combo ? kCombo : kList;
    auto read = [&](char* dest) { return combo ? pReadCbo(dlg, id, dest) : pReadLst(dlg, id, dest); };
    auto set = [&](const char* t) { return combo ? pSetCbo(dlg, id, t) : pSetLst(dlg, id, t); };
    char dest[32];
    std::strcpy(dest, "untouched");
    EXPECT_EQ(read(dest), -1) << "nothing selected";
    EXPECT_STREQ(dest, "untouched");
    fill(id, {"one", "two"}, combo);
    EXPECT_EQ(read(dest), -1);
    set("two");
    EXPECT_EQ(read(dest), 2);
    EXPECT_STREQ(dest, "two");
    EXPECT_EQ(read(nullptr), 2) << "a null destination still gives the value";
  }
}

TEST_F(Lists, ValueZeroIsNeverStored) {
  EXPECT_EQ(pWriteLst(dlg, kList, "x", 0), 0);
  EXPECT_EQ(pWriteLst(dlg, kList, "y", 521), 1);
  EXPECT_EQ(headless::rows(dlg, kList), (std::vector<headless::Row>{{"x", 0}, {"y", 521}}));
  EXPECT_EQ(pWriteLst(dlg, kList, nullptr, 5), 0);
  EXPECT_EQ(headless::rows(dlg, kList).size(), 2u) << "a null text adds nothing";
}

TEST_F(Lists, SortedListKeepsRowsInOrderWithTheirValues) {
  const char* rows[] = {"delta", "Alpha", "charlie", "bravo"};
  int32_t expectedIndex[] = {0, 0, 1, 1};
  for (int i = 0; i < 4; i++) EXPECT_EQ(pWriteLst(dlg, kSorted, rows[i], 1 + 520 * i), expectedIndex[i]) << rows[i];
  EXPECT_EQ(headless::rows(dlg, kSorted), (std::vector<headless::Row>{
                                              {"Alpha", 521}, {"bravo", 1561}, {"charlie", 1041}, {"delta", 1}}));
}

TEST_F(Lists, DeleteAndInsertWorkAtTheSelection) {
  for (bool combo : {false, true}) {
    int32_t id = combo ? kCombo : kList;
    auto del = [&] { return combo ? pDeleteCbo(dlg, id) : pDeleteLst(dlg, id); };
    auto ins = [&](const char* t, int32_t v) { return combo ? pInsertCbo(dlg, id, t, v) : pInsertLst(dlg, id, t, v); };
    auto set = [&](const char* t) { return combo ? pSetCbo(dlg, id, t) : pSetLst(dlg, id, t); };
    EXPECT_EQ(del(), -1) << "nothing selected";
    EXPECT_EQ(ins("new", 9), -1);
    EXPECT_TRUE(headless::rows(dlg, id).empty()) << "nothing inserted without a selection";
    fill(id, {"a", "b", "c"}, combo);
    set("b");
    EXPECT_EQ(ins("before-b", 9), 1);
    EXPECT_EQ(ins("plain", 0), 2) << "the selection moved down with its row";
    EXPECT_EQ(headless::rows(dlg, id), (std::vector<headless::Row>{
                                           {"a", 1}, {"before-b", 9}, {"plain", 0}, {"b", 2}, {"c", 3}}));
    EXPECT_EQ(del(), 4) << "rows left";
    EXPECT_EQ(del(), -1) << "the deleted row took the selection with it";
    EXPECT_EQ(ins(nullptr, 1), 0);
    pSetLst(dlg, kList, nullptr);
    // reset for the combo round
    while (!headless::rows(dlg, id).empty()) {
      combo ? pSetCbo(dlg, id, headless::rows(dlg, id)[0].text.c_str())
            : pSetLst(dlg, id, headless::rows(dlg, id)[0].text.c_str());
      del();
    }
  }
}

TEST_F(Lists, ComboOperationsNeedAControlId) {
  EXPECT_EQ(pWriteCbo(dlg, 0, "x", 1), 0);
  EXPECT_EQ(pReadCbo(dlg, 0, nullptr), 0) << "no control: the messages reach nothing";
  EXPECT_EQ(pWriteLst(dlg, 999, "x", 1), 0);
}

TEST_F(Lists, UserSelectionPostsNotifications) {
  fill(kList, {"a", "b"}, false);
  fill(kCombo, {"5", "10"}, true);
  EXPECT_TRUE(headless::doubleClick(dlg, kList, 1));
  EXPECT_TRUE(headless::pickCombo(dlg, kCombo, "10"));
  EXPECT_FALSE(headless::pickCombo(dlg, kCombo, "15"));
  EXPECT_FALSE(headless::doubleClick(dlg, kList, 2)) << "no such row";
  headless::settle();
  std::vector<std::pair<int, int>> expected{
      {kList, LBN_SELCHANGE}, {kList, LBN_DBLCLK}, {kCombo, CBN_SELCHANGE}};
  std::vector<std::pair<int, int>> got;
  for (auto c : seen.commands)
    if (c.first == kList || c.first == kCombo) got.push_back(c);
  EXPECT_EQ(got, expected);
  char dest[8] = {};
  EXPECT_EQ(pReadCbo(dlg, kCombo, dest), 2);
  EXPECT_STREQ(dest, "10");
}

}  // namespace
