// One machine under test on the virtual clock: a throw-away program folder
// with its POST folder, the live configuration pointing at it, the program's
// modem as a virtual modem on loopback, a console window for the status line,
// progress bar and indicators, and scripted peers to talk to.
#pragma once
#include <gtest/gtest.h>
#include <stdint.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "peer.h"

namespace linktest {

// What one test mail says about itself.
struct MailShape {
  std::string sender = "ann@400";
  std::string postedAt = "7/12/2026 9:05";
  std::string destination = "bob@401";
  int blocks = 1;
  // Texts of blockNumber for each block; empty: "1" .. blocks.
  std::vector<std::string> blockNumbers;
  std::string totalBlocks;  // empty: blocks
};

// The encoded file name of a text (the unit library's name encoding).
std::string Encoded(const std::string& text);
// The mail as stored in a spool file: headers scrambled, first payload too.
Bytes MakeMail(const MailShape& mail);
// The announce machine `from` makes for the mail, scrambled as on the line.
Bytes MakeAnnounce(const std::string& name, const std::string& machine, const std::string& marker = "[ML]",
                   const std::string& from = "400");
// The text of a slot in raw bytes.
std::string TextAt(const Bytes& bytes, size_t offset, size_t width);
// The extended protocol's offer for mail (its blocks and digest) written
// into a scrambled announce.
void AddOffer(Bytes& announce, const Bytes& mail);
// A block's header, unscrambled.
Bytes HeaderOf(const Bytes& block);
Bytes ReadAll(const fs::path& path);
void WriteAll(const fs::path& path, const Bytes& bytes);

// A test name from a case's description: its words joined in camel case.
template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  bool upper = true;
  for (const char* c = info.param.what; *c != 0; ++c) {
    const bool alnum = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
    if (!alnum) {
      upper = true;
      continue;
    }
    name += upper && *c >= 'a' && *c <= 'z' ? char(*c - 32) : *c;
    upper = false;
  }
  return name;
}

class LinkFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The program's port settings: a virtual modem listening on a free
  // loopback port, with the phone book given (number -> port).
  void WriteProgramSettings(const std::map<std::string, int>& phonebook);
  // A peer that listens, answers by itself, and is in the program's phone
  // book under number.
  Peer& AddPeer(const std::string& number);
  // Brings the program's link up with the phone book of the peers added.
  void BringLinkUp();
  // Pumps until done() holds or limitMs of (virtual) time have passed.
  bool RunUntil(const std::function<bool()>& done, uint32_t limitMs);
  void Pump(uint32_t ms);
  // A peer dials this machine and both sides see the carrier.
  void CallFrom(Peer& peer);

  fs::path Post() const { return root_ / "POST"; }
  fs::path Root() const { return root_; }
  std::vector<std::string> SpoolNames() const;
  // Every file under the program folder, as paths relative to it.
  std::vector<std::string> AllFiles() const;
  // A "[@]" spool file holding mail; returns its path.
  fs::path PutRemote(const MailShape& mail, const std::string& name = "");
  std::string SpoolNameOf(const MailShape& mail, const std::string& suffix) const {
    return Encoded(mail.sender + mail.postedAt) + suffix;
  }

  // Console read-outs.
  std::string StatusText() const;
  // Every text the status line showed since the last call, in order.
  std::vector<std::string> TakeStatusHistory();
  bool StatusShowed(const std::string& text);
  int32_t Progress() const;
  std::vector<int32_t> TakeProgressHistory();
  std::string Indicator(int32_t id) const;
  // The last message box shown (its caption and text), answered with OK.
  std::string LastAlertCaption() const;
  std::string LastAlertText() const;
  // The machine of the outgoing call, as the posting pass notes it.
  void SetConnected(const std::string& machine);

  std::map<std::string, std::unique_ptr<Peer>> peers_;

 private:
  void OpenConsoleWindow();
  void CloseConsoleWindow();
  fs::path root_;
};

}  // namespace linktest
