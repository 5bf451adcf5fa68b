// The mailbox list's fixed columns.
#include <gtest/gtest.h>

#include <string>

#include "accounts/mailbox.h"
#include "store/format.h"
#include "toolkit/text.h"

namespace {

MailHeader Entry(const char* sender, const char* subject, const char* postedAt, const char* status) {
  MailHeader h;
  pClrMem(&h, sizeof h);
  SetSlot(h.marker, "[ML]");
  SetSlot(h.sender, sender);
  SetSlot(h.subject, subject);
  SetSlot(h.postedAt, postedAt);
  SetSlot(h.status, status);
  return h;
}

std::string Row(const MailHeader& h) {
  char row[256] = {};
  MailboxRow(h, row);
  return row;
}

std::string Pad(const std::string& s, size_t width) { return s + std::string(width - s.size(), ' '); }

TEST(MailboxRows, HeaderLineHasTheFourColumns) {
  char line[256] = {};
  MailboxHeaderLine(line);
  EXPECT_EQ(std::string(line), Pad("Sender", 50) + Pad("Subject", 50) + Pad("Date       Time", 20) + Pad("Stat", 5));
}

TEST(MailboxRows, StatusShownOnlyWhenKnown) {
  struct Case {
    const char* status;
    const char* shown;
  } cases[] = {{"[N]", "[N]  "}, {"[O]", "[O]  "}, {"[o]", "[o]  "}, {"[n]", "[n]  "}, {"", ""}, {"[X]", ""},
               {"O", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    std::string row = Row(Entry("anna@0401", "hello", "7/12/2026 9:05", c.status));
    EXPECT_EQ(row, Pad("anna@0401", 50) + Pad("hello", 50) + Pad("7/12/2026 9:05", 20) + c.shown);
  }
}

TEST(MailboxRows, UnterminatedSlotsStayInsideTheirColumns) {
  MailHeader h = Entry("", "", "", "[N]");
  // A foreign file whose texts fill their slots to the last byte.
  for (char& c : h.sender) c = 's';
  for (char& c : h.subject) c = 'u';
  for (char& c : h.postedAt) c = '1';
  std::string row = Row(h);
  ASSERT_EQ(row.size(), 125u);
  EXPECT_EQ(row.substr(0, 50), Pad(std::string(48, 's'), 50));
  EXPECT_EQ(row.substr(50, 50), Pad(std::string(48, 'u'), 50));
  EXPECT_EQ(row.substr(100, 20), Pad(std::string(18, '1'), 20));
  EXPECT_EQ(row.substr(120), "[N]  ");
}

TEST(MailboxRows, RowsSortBySenderFirst) {
  std::string bob = Row(Entry("bob@0401", "aaa", "1/1/2026 0:00", "[N]"));
  std::string anna = Row(Entry("anna@0401", "zzz", "9/9/2026 9:59", "[N]"));
  std::string annaB = Row(Entry("anna@0401", "zzz", "9/9/2026 9:59a", "[N]"));
  EXPECT_LT(anna, bob);
  EXPECT_LT(anna, annaB);
}

}  // namespace
