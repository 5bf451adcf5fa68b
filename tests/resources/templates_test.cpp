// The dialog templates against an independent transcription of the layouts.
//
// Every row below was copied from the dialog layouts by hand, apart from the
// templates themselves, so a typo in either copy shows up as a difference.
// Styles the layouts leave open are chosen once for all dialogs (see
// resources/templates.cpp): interactive controls are tab stops, typed fields
// scroll horizontally, and no button is a default button.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "resources/resources.h"

namespace {

constexpr uint32_t T = CS_TABSTOP;

struct Row {
  int32_t id;
  ControlKind kind;
  int32_t x, y, cx, cy;
  uint32_t style;
  const char* text;  // 0: the control carries no text of its own
  int32_t bitmap = 0;
};

struct Expected {
  int32_t id;
  uint32_t style;
  const char* caption;
  int32_t pointSize;
  int32_t cx, cy;
  std::vector<Row> rows;
};

const uint32_t kSetEdit = CS_BORDER | CS_AUTOHSCROLL | T;
const uint32_t kList = CS_SORT | CS_NOTIFY | CS_TABSTOP | CS_NOINTEGRALHEIGHT | CS_VSCROLL | CS_BORDER;
const uint32_t kAsk = CS_STATICEDGE | CS_AUTOHSCROLL | CS_OEMCONVERT | CS_WANTRETURN | CS_HIDDEN | T;

const std::vector<Expected>& Layouts() {
  static const std::vector<Expected> layouts = {
      {1000, DS_CAPTION | DS_TOOLWINDOW | DS_VISIBLE, "Velloran :: Welcome", 9, 398, 72,
       {{1001, CTL_BITMAP, 0, 0, 398, 72, 0, nullptr, 120}}},
      {2000, DS_CAPTION | DS_SYSMENU | DS_VISIBLE | DS_MINIMIZED, "Velloran", 9, 510, 89,
       {
           {2001, CTL_BITMAP, 3, 2, 71, 13, 0, nullptr, 110},
           {2002, CTL_STATIC, 262, 2, 148, 11, CS_RIGHT | CS_BORDER, nullptr},
           {2003, CTL_STATIC, 414, 2, 92, 12, CS_SUNKEN, nullptr},
           {2004, CTL_STATIC, 416, 3, 17, 10, CS_CENTER | CS_MODALFRAME, nullptr},
           {2005, CTL_STATIC, 434, 3, 17, 10, CS_CENTER | CS_MODALFRAME, nullptr},
           {2006, CTL_STATIC, 452, 3, 17, 10, CS_CENTER | CS_MODALFRAME, nullptr},
           {2007, CTL_STATIC, 470, 3, 17, 10, CS_CENTER | CS_MODALFRAME, nullptr},
           {2008, CTL_STATIC, 489, 3, 17, 10, CS_CENTER | CS_MODALFRAME, nullptr},
           {2009, CTL_GROUPBOX, 3, 17, 274, 32, 0, "Account/Control Login"},
           {2010, CTL_STATIC, 11, 29, 10, 10, 0, "Id:"},
           {2011, CTL_EDIT, 25, 29, 62, 10, CS_STATICEDGE | CS_AUTOHSCROLL | T, nullptr},
           {2012, CTL_STATIC, 97, 29, 14, 10, 0, "Key:"},
           {2013, CTL_EDIT, 114, 29, 62, 10, CS_STATICEDGE | CS_AUTOHSCROLL | CS_PASSWORD | T, nullptr},
           {2014, CTL_BUTTON, 194, 29, 38, 12, CS_STATICEDGE | T, "Account"},
           {2015, CTL_BUTTON, 234, 29, 38, 12, CS_STATICEDGE | T, "Control"},
           {2016, CTL_BUTTON, 3, 57, 38, 12, CS_STATICEDGE | T, "Create"},
           {2017, CTL_BUTTON, 43, 57, 38, 12, CS_STATICEDGE | T, "Remove"},
           {2018, CTL_BUTTON, 83, 57, 38, 12, CS_STATICEDGE | T, "Setting"},
           {2019, CTL_BUTTON, 123, 57, 38, 12, CS_STATICEDGE | T, "Close"},
           {2020, CTL_BUTTON, 163, 57, 38, 12, CS_STATICEDGE | T, "About"},
           {2021, CTL_STATIC, 279, 17, 228, 53, CS_GREYPANEL | CS_CLIENTEDGE, nullptr},
           {2022, CTL_STATIC, 3, 75, 31, 9, 0, "Status:"},
           {2023, CTL_STATIC, 34, 75, 385, 10, CS_BORDER | CS_NOWRAP, nullptr},
           {2024, CTL_PROGRESS, 422, 75, 84, 10, 0, nullptr},
       }},
      {3000, DS_CAPTION | DS_TOOLWINDOW, "Velloran :: Writer", 10, 447, 158,
       {
           {3001, CTL_STATIC, 3, 3, 33, 8, 0, "Date:"},
           {3002, CTL_EDIT, 40, 3, 202, 10, CS_READONLY | CS_AUTOHSCROLL, nullptr},
           {3003, CTL_STATIC, 3, 15, 33, 8, 0, "From:"},
           {3004, CTL_EDIT, 40, 15, 202, 10, CS_READONLY | CS_AUTOHSCROLL, nullptr},
           {3005, CTL_STATIC, 3, 27, 33, 8, 0, "Subject:"},
           {3006, CTL_EDIT, 40, 27, 202, 10, CS_AUTOHSCROLL | T, nullptr},
           {3007, CTL_STATIC, 3, 39, 33, 8, 0, "To:"},
           {3008, CTL_BUTTON, 40, 38, 34, 12, CS_STATICEDGE | T, "Contact"},
           {3009, CTL_EDIT, 75, 39, 167, 10, CS_AUTOHSCROLL | T, nullptr},
           {3010, CTL_EDIT, 3, 55, 441, 86, CS_MULTILINE | CS_VSCROLL | CS_WANTRETURN | CS_CLIENTEDGE | T, nullptr},
           {3011, CTL_STATIC, 244, 3, 200, 50, CS_GREYPANEL | CS_CLIENTEDGE, nullptr},
           {3012, CTL_BUTTON, 305, 144, 34, 12, CS_STATICEDGE | T, "Attach"},
           {3013, CTL_BUTTON, 340, 144, 34, 12, CS_STATICEDGE | T, "Lock"},
           {3014, CTL_BUTTON, 375, 144, 34, 12, CS_STATICEDGE | T, "Send"},
           {3015, CTL_BUTTON, 410, 144, 34, 12, CS_STATICEDGE | T, "Exit"},
       }},
      {4000, DS_CAPTION | DS_TOOLWINDOW, "Velloran :: About", 9, 398, 72,
       {{4001, CTL_BITMAP, 0, 0, 398, 72, 0, nullptr, 120}}},
      {5000, DS_CAPTION | DS_TOOLWINDOW, "Velloran :: Setting", 10, 447, 85,
       {
           {5001, CTL_STATIC, 3, 3, 29, 8, 0, "MachID:"},
           {5002, CTL_EDIT, 33, 3, 67, 10, kSetEdit, nullptr},
           {5003, CTL_STATIC, 117, 3, 61, 8, 0, "Online MachID:"},
           {5004, CTL_EDIT, 179, 3, 67, 10, kSetEdit, nullptr},
           {5005, CTL_STATIC, 263, 3, 24, 8, 0, "Owner:"},
           {5006, CTL_EDIT, 288, 3, 156, 10, kSetEdit, nullptr},
           {5007, CTL_GROUPBOX, 3, 14, 441, 38, 0, "Communication Device Settings"},
           {5008, CTL_STATIC, 6, 24, 27, 8, 0, "Signal:"},
           {5009, CTL_COMBOBOX, 35, 24, 22, 42, T, nullptr},
           {5010, CTL_STATIC, 67, 24, 20, 8, 0, "Port:"},
           {5011, CTL_COMBOBOX, 89, 24, 22, 42, T, nullptr},
           {5012, CTL_STATIC, 121, 24, 20, 8, 0, "Baud:"},
           {5013, CTL_COMBOBOX, 142, 24, 50, 42, T, nullptr},
           {5014, CTL_STATIC, 202, 24, 32, 8, 0, "Set CMD:"},
           {5015, CTL_EDIT, 235, 24, 45, 10, kSetEdit, nullptr},
           {5016, CTL_STATIC, 291, 24, 20, 8, 0, "Dial:"},
           {5017, CTL_EDIT, 312, 24, 45, 10, kSetEdit, nullptr},
           {5018, CTL_STATIC, 367, 24, 28, 8, 0, "Answer:"},
           {5019, CTL_EDIT, 396, 24, 45, 10, kSetEdit, nullptr},
           {5020, CTL_STATIC, 6, 38, 76, 8, 0, "Initialization CMD:"},
           {5021, CTL_EDIT, 83, 38, 130, 10, kSetEdit, nullptr},
           {5022, CTL_STATIC, 229, 38, 27, 8, 0, "Redial:"},
           {5023, CTL_COMBOBOX, 258, 38, 22, 42, T, nullptr},
           {5024, CTL_STATIC, 290, 38, 40, 8, 0, "Aux. Port:"},
           {5025, CTL_COMBOBOX, 332, 38, 22, 42, T, nullptr},
           {5026, CTL_CHECKBOX, 370, 38, 70, 8, CS_LEFTTEXT | T, "Auto Aux. Port:"},
           {5027, CTL_STATIC, 3, 54, 42, 8, 0, "ControlID:"},
           {5028, CTL_EDIT, 47, 54, 67, 10, kSetEdit, nullptr},
           {5029, CTL_STATIC, 123, 54, 50, 8, 0, "Control Key:"},
           {5030, CTL_EDIT, 175, 54, 67, 10, kSetEdit | CS_PASSWORD, nullptr},
           {5031, CTL_STATIC, 250, 54, 71, 8, 0, "ECourier Interval:"},
           {5032, CTL_COMBOBOX, 323, 54, 37, 42, T, nullptr},
           {5033, CTL_CHECKBOX, 369, 54, 75, 8, CS_LEFTTEXT | T, "Enable ECourier:"},
           {5034, CTL_BUTTON, 375, 70, 34, 12, T, "Save"},
           {5035, CTL_BUTTON, 410, 70, 34, 12, T, "Exit"},
       }},
      {6000, DS_CAPTION | DS_TOOLWINDOW, "Velloran :: Login", 9, 510, 168,
       {
           {6001, CTL_STATIC, 4, 3, 502, 9, CS_NOWRAP | CS_TRANSPARENT, nullptr},
           {6002, CTL_LISTBOX, 3, 14, 504, 135, kList, nullptr},
           {6003, CTL_BUTTON, 388, 153, 38, 12, T, "New"},
           {6004, CTL_BUTTON, 428, 153, 38, 12, T, "Change"},
           {6005, CTL_BUTTON, 468, 153, 38, 12, T, "Logout"},
       }},
      {7000, DS_CAPTION | DS_TOOLWINDOW, "Velloran :: Reader", 10, 447, 158,
       {
           {7001, CTL_STATIC, 3, 3, 33, 8, 0, "Date:"},
           {7002, CTL_EDIT, 40, 3, 202, 10, CS_READONLY | CS_AUTOHSCROLL, nullptr},
           {7003, CTL_STATIC, 3, 15, 33, 8, 0, "From:"},
           {7004, CTL_EDIT, 40, 15, 202, 10, CS_READONLY | CS_AUTOHSCROLL, nullptr},
           {7005, CTL_STATIC, 3, 27, 33, 8, 0, "Subject:"},
           {7006, CTL_EDIT, 40, 27, 202, 10, CS_READONLY | CS_AUTOHSCROLL, nullptr},
           {7007, CTL_STATIC, 3, 39, 33, 8, 0, "To:"},
           {7008, CTL_EDIT, 40, 39, 202, 10, CS_READONLY | CS_AUTOHSCROLL, nullptr},
           {7009, CTL_EDIT, 3, 55, 441, 86, CS_MULTILINE | CS_READONLY | CS_VSCROLL | CS_CLIENTEDGE | T, nullptr},
           {7010, CTL_STATIC, 244, 3, 200, 50, CS_GREYPANEL | CS_CLIENTEDGE, nullptr},
           {7011, CTL_BUTTON, 3, 144, 12, 12, CS_CENTER | T, "[]"},
           {7012, CTL_BUTTON, 340, 144, 34, 12, CS_STATICEDGE | T, "Add"},
           {7013, CTL_BUTTON, 375, 144, 34, 12, CS_STATICEDGE | T, "Reply"},
           {7014, CTL_BUTTON, 410, 144, 34, 12, CS_STATICEDGE | T, "Exit"},
       }},
      {10000, DS_CAPTION | DS_SYSMENU | DS_TOOLWINDOW, nullptr, 12, 157, 20,
       {
           {10001, CTL_EDIT, 2, 3, 152, 10, kAsk, nullptr},
           {10002, CTL_EDIT, 2, 3, 152, 10, kAsk | CS_NUMBER, nullptr},
           {10003, CTL_EDIT, 2, 3, 152, 10, kAsk | CS_PASSWORD, nullptr},
       }},
      {20000, DS_CAPTION | DS_SYSMENU | DS_TOOLWINDOW, "Velloran :: Contact", 9, 225, 93,
       {{20001, CTL_LISTBOX, 0, 0, 225, 93, kList, nullptr}}},
  };
  return layouts;
}

std::string Text(const char* s) { return s ? s : ""; }

class DialogLayout : public testing::TestWithParam<Expected> {};

TEST_P(DialogLayout, MatchesTheTranscription) {
  const Expected& want = GetParam();
  const DialogTemplate* got = res::FindDialog(want.id);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->id, want.id);
  EXPECT_EQ(got->style, want.style);
  if (want.caption) {
    EXPECT_EQ(Text(got->caption), want.caption);
  }
  EXPECT_EQ(Text(got->fontFace), "Courier New");
  EXPECT_EQ(got->pointSize, want.pointSize);
  EXPECT_EQ(got->cx, want.cx);
  EXPECT_EQ(got->cy, want.cy);
  ASSERT_EQ(got->controlCount, int32_t(want.rows.size()));
  ASSERT_NE(got->controls, nullptr);
  for (size_t i = 0; i < want.rows.size(); ++i) {
    const Row& w = want.rows[i];
    const ControlTemplate& c = got->controls[i];
    SCOPED_TRACE("control " + std::to_string(w.id));
    EXPECT_EQ(c.id, w.id);
    EXPECT_EQ(c.kind, w.kind);
    EXPECT_EQ(c.x, w.x);
    EXPECT_EQ(c.y, w.y);
    EXPECT_EQ(c.cx, w.cx);
    EXPECT_EQ(c.cy, w.cy);
    EXPECT_EQ(c.style, w.style) << std::hex << (c.style ^ w.style);
    EXPECT_EQ(Text(c.text), Text(w.text));
    EXPECT_EQ(c.bitmap, w.bitmap);
  }
}

TEST_P(DialogLayout, ControlIdsAreUniqueAndControlsFitTheDialog) {
  const DialogTemplate* got = res::FindDialog(GetParam().id);
  ASSERT_NE(got, nullptr);
  std::set<int32_t> ids;
  for (int32_t i = 0; i < got->controlCount; ++i) {
    const ControlTemplate& c = got->controls[i];
    SCOPED_TRACE("control " + std::to_string(c.id));
    EXPECT_TRUE(ids.insert(c.id).second) << "duplicate id";
    EXPECT_GE(c.x, 0);
    EXPECT_GE(c.y, 0);
    EXPECT_GT(c.cx, 0);
    EXPECT_GT(c.cy, 0);
    EXPECT_LE(c.x + c.cx, got->cx);
    // A combo's height is that of its dropped list, which may hang below.
    if (c.kind != CTL_COMBOBOX) {
      EXPECT_LE(c.y + c.cy, got->cy);
    }
    // No default button: Enter must stay an ignored command.
    EXPECT_EQ(c.style & CS_DEFPUSH, 0u);
    if (c.kind == CTL_BITMAP) {
      EXPECT_NE(res::Bitmap(c.bitmap), nullptr);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllNine, DialogLayout, testing::ValuesIn(Layouts()),
                         [](const testing::TestParamInfo<Expected>& info) { return "Dialog" + std::to_string(info.param.id); });

TEST(ResourceSet, HoldsExactlyTheNineDialogsInOrder) {
  const ResourceSet& set = VelloranResources();
  EXPECT_STREQ(set.name, "Velloran.exe");
  const std::vector<int32_t> want = {1000, 2000, 3000, 4000, 5000, 6000, 7000, 10000, 20000};
  ASSERT_EQ(set.dialogCount, int32_t(want.size()));
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(set.dialogs[i]->id, want[i]);
  int32_t count = 0;
  EXPECT_EQ(res::DialogTemplates(&count), set.dialogs);
  EXPECT_EQ(count, set.dialogCount);
}

TEST(ResourceSet, UnknownNumbersFindNothing) {
  const ResourceSet& set = VelloranResources();
  for (int32_t id : {0, -1, 999, 1001, 2001, 100, 110, 120}) EXPECT_EQ(res::FindDialog(id), nullptr) << id;
  for (int32_t id : {0, 100, 111, 119, 121}) EXPECT_EQ(set.bitmap(id), nullptr) << id;
  for (int32_t id : {0, 110, 120, 101}) EXPECT_EQ(set.icon(id), nullptr) << id;
  EXPECT_EQ(set.bitmap(110), res::Bitmap(110));
  EXPECT_EQ(set.icon(100), res::Icon(100));
}

}  // namespace
