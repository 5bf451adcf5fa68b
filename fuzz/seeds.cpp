// Writes the seed corpora, fuzz/corpus/<target>/, from the test fixtures'
// own makers of mails, announces, records and books: a few valid inputs and
// a few broken ones per target. Run from the build: fuzz_seeds <fuzz folder>.
#include <sstream>

#include "config/config.h"
#include "fuzz/harness.h"
#include "link/extended.h"
#include "platform/unit.h"
#include "tests/accounts/mail_fixture.h"
#include "tests/link/link_fixture.h"
#include "tests/store/store_fixture.h"

using namespace fuzz;

namespace {

fs::path corpus;

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  fs::create_directories(corpus / target);
  WriteFile(corpus / target / name, bytes.data(), bytes.size());
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Joined(const std::vector<Bytes>& parts) {
  Bytes all;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) all.insert(all.end(), kPartSeparator, kPartSeparator + sizeof kPartSeparator - 1);
    all.insert(all.end(), parts[i].begin(), parts[i].end());
  }
  return all;
}

void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

// The unit library's packed copy of bytes.
Bytes Packed(const Bytes& bytes) {
  const fs::path file = Scratch().folder / "pack.tmp";
  WriteFile(file, bytes.data(), bytes.size());
  const char* packed = vlOptimize(1, storebytes::Classic(file).c_str(), 0, 0);
  if (packed == nullptr || packed[0] == 0) Fail("packing failed");
  Bytes result = ReadFile(packed);
  fs::remove(packed);
  fs::remove(file);
  return result;
}

void UnpackSeeds() {
  const Bytes text = Text("a small attachment, a small attachment, a small attachment\n");
  Seed("unpack", "text.xz", Packed(text));
  Seed("unpack", "zeros.xz", Packed(Bytes(5000, 0)));
  Bytes cut = Packed(text);
  cut.resize(cut.size() / 2);
  Seed("unpack", "truncated.xz", cut);
  Bytes trailing = Packed(text);
  trailing.push_back('x');
  Seed("unpack", "trailing.xz", trailing);
  Seed("unpack", "plain.txt", text);
}

void PortSettingsSeeds() {
  Seed("portsettings", "virtual.ini",
       Text("[port1]\nbackend = virtual\nlisten = 127.0.0.1:7401\npace = 1\ndrop_after = 0\ndelay_ms = 0\n"
            "auto_answer = 1\n[phonebook]\n402 = 127.0.0.1:7402\n0403 = localhost:7403\n"));
  Seed("portsettings", "serial.ini",
       Text("; comment\n[PORT2]\nBackend = Serial ; inline\ndevice = /dev/ttyUSB0\n[port32]\nbackend = virtual\n"));
  Seed("portsettings", "bad-value.ini", Text("[port1]\nbackend = virtual\npace = 9\n"));
  Seed("portsettings", "bad-section.ini", Text("[port33]\nbackend = serial\n[phonebook]\n4a1 = 1.2.3.4:5\n"));
  Seed("portsettings", "twice.ini", Text("[phonebook]\n401 = 127.0.0.1:1\n401 = 127.0.0.1:2\n"));
}

Bytes Record(const std::vector<std::pair<FieldSlot, const char*>>& fields) {
  ConfigRecord record{};
  for (const auto& [slot, text] : fields) record.SetText(slot, text);
  Bytes bytes(record.bytes, record.bytes + kRecordSize);
  vlData(1, bytes.data(), kRecordSize);
  return bytes;
}

void ConfigSeeds() {
  const Bytes unit = Record({{UnitField::MachID, "401"}, {UnitField::OnlineMachID, "401"}, {UnitField::Owner, "anna"},
                             {UnitField::ControlID, "admin"}, {UnitField::ControlKey, "secret"},
                             {UnitField::AccountCount, "2"}, {UnitField::Redial, "3"},
                             {UnitField::EnableECourier, "1"}, {UnitField::ECourierInterval, "30"}});
  const Bytes settings = Record({{SettingsField::Signal, "1"}, {SettingsField::Port, "1"},
                                 {SettingsField::Baud, "56000"}, {SettingsField::SetCmd, "E0"},
                                 {SettingsField::InitCmd, "S0=1"}, {SettingsField::Dial, "DT"}});
  Seed("config", "both", Joined({unit, settings}));
  Seed("config", "unit-only", unit);
  Bytes shortUnit(unit.begin(), unit.begin() + 100);
  Seed("config", "short-unit", Joined({shortUnit, settings}));
  Bytes longSettings = settings;
  Append(longSettings, Text("tail kept"));
  Seed("config", "long-settings", Joined({unit, longSettings}));
  // Records from elsewhere: no slot terminated anywhere.
  Bytes x(kRecordSize, 'x');
  Bytes y(kRecordSize, 'y');
  vlData(1, x.data(), kRecordSize);
  vlData(1, y.data(), kRecordSize);
  Seed("config", "unterminated", Joined({x, y}));
}

// Line events: 0 carrier on, 1 carrier off, 2 data (length, bytes).
void Data(Bytes& events, const Bytes& bytes) {
  events.push_back(2);
  events.push_back(uint8_t(bytes.size() & 0xff));
  events.push_back(uint8_t(bytes.size() >> 8));
  Append(events, bytes);
}

Bytes Frame(uint8_t type, uint8_t mail, uint32_t number, const void* payload, int32_t length) {
  Bytes frame(kFrameMaxBytes);
  frame.resize(size_t(BuildFrame(type, mail, number, payload, length, reinterpret_cast<char*>(frame.data()))));
  return frame;
}

// A two-block mail in the extended protocol: the announce with its offer,
// block 1 whole, block 2 packed and split across events, a second announce
// as a frame, the end of the call.
Bytes ExtendedMailEvents(const linktest::MailShape& shape, const std::string& name) {
  const Bytes mail = linktest::MakeMail(shape);
  Bytes announce = linktest::MakeAnnounce(name, "400");
  linktest::AddOffer(announce, mail);
  Bytes events = {0};
  Data(events, announce);
  Data(events, Frame(kFrameBlock, 0, 1, mail.data(), kBlockSize));
  const auto& second = *reinterpret_cast<const MailBlock*>(mail.data() + kBlockSize);
  const auto& first = *reinterpret_cast<const MailBlock*>(mail.data());
  char packed[kPayloadSize];
  uint8_t type = 0;
  const int32_t length = PackPayload(second.payload, first.payload.tag, packed, type);
  const Bytes data = Frame(type, 0, 2, packed, length);
  Data(events, Bytes(data.begin(), data.begin() + 100));
  Data(events, Bytes(data.begin() + 100, data.end()));
  Data(events, Frame(kFrameAnnounce, 1, 0, announce.data(), kAnnounceSize));
  Data(events, Frame(kFrameEnd, 1, 0, nullptr, 0));
  events.push_back(1);
  return events;
}

// A frame of a call with keys, as the line target's op 4 takes it (sealed there).
void Sealed(Bytes& events, uint8_t type, uint8_t mail, uint16_t number, const Bytes& payload) {
  Append(events, Bytes{4, type, mail, uint8_t(number & 0xff), uint8_t(number >> 8), uint8_t(payload.size() & 0xff),
                       uint8_t(payload.size() >> 8)});
  Append(events, payload);
}

// Machine 398, which proved its key, sends a one-block mail in its own name:
// the announce and the block sealed, then the end of the call.
Bytes SealedMailEvents() {
  linktest::MailShape shape;
  shape.sender = "ann@398";
  shape.destination = "bob@400";
  const Bytes mail = linktest::MakeMail(shape);
  Bytes announce = linktest::MakeAnnounce(linktest::Encoded(shape.sender + shape.postedAt) + "[=]", "400", "[ML]", "398");
  linktest::AddOffer(announce, mail);
  Bytes events;
  Sealed(events, kFrameAnnounce, 0, 0, announce);
  Sealed(events, kFrameBlock, 0, 1, mail);
  Sealed(events, kFrameEnd, 0, 0, {});
  events.push_back(1);
  return events;
}

void LineSeeds() {
  linktest::MailShape one;
  one.destination = "bob@400";
  linktest::MailShape two = one;
  two.blocks = 2;
  two.postedAt = "7/12/2026 9:06";
  const std::string name1 = linktest::Encoded(one.sender + one.postedAt) + "[=]";
  const std::string name2 = linktest::Encoded(two.sender + two.postedAt) + "[=]";
  const Bytes mail2 = linktest::MakeMail(two);

  Bytes events = {0};
  Data(events, linktest::MakeAnnounce(name1, "400"));
  Data(events, linktest::MakeMail(one));
  Data(events, Text("[END]"));
  events.push_back(1);
  Seed("line", "one-mail", events);

  events = {0};
  Data(events, linktest::MakeAnnounce(name2, "0400"));
  Data(events, Bytes(mail2.begin(), mail2.begin() + 1000));
  Data(events, Bytes(mail2.begin() + 1000, mail2.begin() + 4096));
  Data(events, Bytes(mail2.begin() + 4096, mail2.end()));
  events.push_back(1);
  Seed("line", "two-blocks-split", events);

  events = {0};
  Data(events, linktest::MakeAnnounce(name2, "400"));
  Data(events, Bytes(mail2.begin(), mail2.begin() + 4096));
  events.push_back(1);
  events.push_back(0);
  Data(events, linktest::MakeAnnounce(name1, "400"));
  events.push_back(3);
  events.push_back(1);
  events.push_back(1);
  Seed("line", "carrier-lost", events);

  events = {0};
  Data(events, linktest::MakeAnnounce("../../x[=]", "400"));
  Data(events, linktest::MakeAnnounce(name1, "401"));
  Data(events, Text("[OK]"));
  Seed("line", "refused-announces", events);

  Seed("line", "extended-mail", ExtendedMailEvents(two, name2));
  Seed("line", "sealed-mail", SealedMailEvents());
}

void DeliverySeeds() {
  storetest::MailShape bob;
  storetest::MailShape carl;
  carl.destination = "carl@100";
  carl.blocks = 3;
  storetest::MailShape nobody;
  nobody.destination = "nobody@100";
  Seed("delivery", "bob-and-carl", Joined({storetest::MakeMail(bob), storetest::MakeMail(carl)}));
  Seed("delivery", "unknown-account", storetest::MakeMail(nobody));
  Bytes torn = storetest::MakeMail(carl);
  torn.resize(torn.size() - 100);
  Seed("delivery", "torn", torn);
  Bytes swapped = storetest::MakeMail(carl);
  std::swap_ranges(swapped.begin(), swapped.begin() + kBlockSize, swapped.begin() + kBlockSize);
  Seed("delivery", "out-of-order", Joined({swapped, Bytes(), storetest::MakeMail(bob)}));
}

Bytes Entry(const mailtest::BlockText& t) {
  Bytes entry = mailtest::Header(t);
  vlData(1, entry.data(), kHeaderSize);
  return entry;
}

void MailboxSeeds() {
  mailtest::BlockText first;
  mailtest::BlockText locked;
  locked.sender = "carl@0211234567";
  locked.lockKey = "lock";
  mailtest::BlockText opened;
  opened.sender = "dan@1";
  opened.status = "[O]";
  Bytes index = Entry(first);
  Seed("mailbox", "one", index);
  Append(index, Entry(locked));
  Append(index, Entry(opened));
  Seed("mailbox", "three", index);
  index.resize(index.size() - 200);
  Seed("mailbox", "torn-tail", index);
}

Bytes Attachment(const mailtest::BlockText& t, int& block, const std::string& tag, const Bytes& packed) {
  Bytes blocks;
  for (size_t at = 0; at < packed.size(); at += kContentSize) {
    const Bytes chunk(packed.begin() + long(at), packed.begin() + long(std::min<size_t>(packed.size(), at + kContentSize)));
    Append(blocks, mailtest::AttachmentBlock(t, block++, tag, chunk));
  }
  return blocks;
}

void MailFileSeeds() {
  mailtest::BlockText t;
  Seed("mailfile", "message-only", mailtest::MessageBlock(t, "hello bob"));
  t.totalBlocks = "3";
  t.attachmentCount = "2";
  Bytes mail = mailtest::MessageBlock(t, "two files");
  int block = 2;
  Append(mail, Attachment(t, block, "notes.txt", Packed(Text("notes, notes, notes\n"))));
  Append(mail, Attachment(t, block, "../escape.bin", Packed(Bytes(100, 9))));
  Seed("mailfile", "two-files", mail);
  t.totalBlocks = "2";
  t.attachmentCount = "1";
  mail = mailtest::MessageBlock(t, "not packed");
  block = 2;
  Append(mail, Attachment(t, block, "raw.dat", Text("not an xz stream")));
  Seed("mailfile", "unpacked-attachment", mail);
  mail = mailtest::MessageBlock(t, "bad length");
  Append(mail, mailtest::AttachmentBlock(t, 2, "big.dat", Bytes(10, 1), "99999"));
  Seed("mailfile", "bad-length", mail);
}

Bytes Contact(const std::string& owner, const std::string& address) {
  Bytes entry(kContactSize, 0);
  storebytes::PutText(entry, 0, owner);
  storebytes::PutText(entry, 32, address);
  vlData(1, entry.data(), kContactSize);
  return entry;
}

void ContactSeeds() {
  Bytes book = Contact("carl", "carl@1");
  Append(book, Contact("anna", "anna@2"));
  Seed("contacts", "two", book);
  Bytes torn = book;
  torn.resize(torn.size() + 100, 3);
  Seed("contacts", "torn-tail", torn);
  Bytes holding = Contact("anna", "anna@0211234567");
  Seed("contacts", "holds-sender", holding);
}

void AccountSeeds() {
  Seed("account", "bob", storebytes::AccountFileBytes("bob", "secret"));
  Seed("account", "wrong-key", storebytes::AccountFileBytes("bob", "other"));
  Bytes other = storebytes::AccountFileBytes("../carl", "SECRET");
  Seed("account", "foreign-id", other);
  Bytes cut = storebytes::AccountFileBytes("bob", "secret");
  cut.resize(127);
  Seed("account", "short", cut);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: fuzz_seeds <fuzz folder>\n");
    return 2;
  }
  corpus = fs::absolute(argv[1]) / "corpus";
  EnterScratch();
  UnpackSeeds();
  PortSettingsSeeds();
  ConfigSeeds();
  LineSeeds();
  DeliverySeeds();
  MailboxSeeds();
  MailFileSeeds();
  ContactSeeds();
  AccountSeeds();
  return 0;
}
