#include "console_fixture.h"
#include "tests/common/temp_folder.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>

#include "console/console.h"
#include "console/prompt.h"
#include "console/setting.h"
#include "console/startup.h"
#include "link/link.h"
#include "resources/resources.h"
#include "toolkit/dialog.h"
#include "toolkit/files.h"
#include "winapi/loop.h"
#include "winapi/winapi.h"

namespace consoletest {

namespace {

Calls calls;

int32_t FakeLocal() {
  calls.localAt.push_back(waNow());
  if (calls.duringLocal) calls.duringLocal();
  return 1;
}

int32_t FakeRemote() {
  calls.remoteAt.push_back(waNow());
  if (calls.duringRemote) calls.duringRemote();
  return 1;
}

int32_t FakeToggle() {
  ++calls.toggles;
  if (calls.duringToggle) calls.duringToggle();
  if (Link().online == 1)
    Link().online = 0;
  else if (calls.linkOpens)
    Link().online = 1;
  return 1;
}

int32_t FakeOpen(HWND, const WindowContext*) { return ++calls.opens, 1; }
int32_t FakeCreate() { return ++calls.creates, 1; }
int32_t FakeRemove() { return ++calls.removes, 1; }
int32_t FakeClear() { return ++calls.clears, 1; }

int32_t FakeRegister(ruk_pbx_Handler handler, int32_t value) {
  calls.registrations.emplace_back(handler != nullptr, value);
  calls.handler = handler;
  return calls.registerResult;
}

void FakeExit(int32_t code) { calls.exits.push_back(code); }

void Apply(ConfigRecord& record, const Fields& fields) {
  for (const auto& [slot, text] : fields) record.SetText(slot, text.c_str());
}

int32_t VisibleEdit(HWND prompt) {
  for (int32_t id : {kPromptTextEditId, kPromptDigitEditId, kPromptKeyEditId})
    if (headless::visible(prompt, id)) return id;
  return 0;
}

}  // namespace

Calls& Recorded() { return calls; }

void ConsoleFixture::SetUp() {
  root_ = MakeTempFolder("vlconsole.");
  ASSERT_FALSE(root_.empty());
  previous_ = fs::current_path();
  fs::current_path(root_);

  headless::reset(true, 0);
  ResetConfig();
  ResetConsole();
  ResetStartup();
  ResetLink();
  ResetPrompt();
  ResetSetting();
  calls = Calls{};

  ConsoleServices& services = Console().services;
  services.deliverLocalMails = FakeLocal;
  services.deliverRemoteMails = FakeRemote;
  services.toggleLink = FakeToggle;
  services.openAccount = FakeOpen;
  services.createAccount = FakeCreate;
  services.removeAccount = FakeRemove;
  services.clearAccountInput = FakeClear;
  services.registerLinkHandler = FakeRegister;
  Startup().exitProgram = FakeExit;

  context_ = WindowContext{};
  context_.instance = tkModuleHandle(&VelloranResources());
  context_.screenWidth = tkScreenWidth();
  context_.screenHeight = tkScreenHeight();
  Console().context = context_;
}

void ConsoleFixture::TearDown() {
  for (const std::string& failure : headless::failures()) ADD_FAILURE() << "driver: " << failure;
  fs::current_path(previous_);
  std::error_code ignored;
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(root_, ignored);
}

void ConsoleFixture::WriteMachine(const Fields& unitFields, const Fields& settingsFields) {
  ConfigRecord unit{};
  Apply(unit, {{UnitField::MachID, "0401"},
               {UnitField::Owner, "Test Owner"},
               {UnitField::ControlID, "admin"},
               {UnitField::ControlKey, "secret"},
               {UnitField::AccountCount, "0"},
               {UnitField::Redial, "2"},
               {UnitField::EnableECourier, "1"},
               {UnitField::ECourierInterval, "5"},
               {UnitField::AutoAuxPort, "0"}});
  Apply(unit, unitFields);
  ConfigRecord settings{};
  Apply(settings, {{SettingsField::Signal, "2"},
                   {SettingsField::Port, "1"},
                   {SettingsField::AuxPort, "2"},
                   {SettingsField::Baud, "57600"},
                   {SettingsField::SetCmd, "E0"},
                   {SettingsField::InitCmd, "S0=1"},
                   {SettingsField::Dial, "DT"},
                   {SettingsField::Answer, "A"}});
  Apply(settings, settingsFields);
  WriteRecord((root_ / "VL.INI").string().c_str(), unit);
  WriteRecord((root_ / "Velloran.INI").string().c_str(), settings);
}

std::vector<unsigned char> ConsoleFixture::FileBytes(const std::string& name) const {
  std::ifstream in(root_ / name, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

ConfigRecord ConsoleFixture::ReadBack(const std::string& name) const {
  ConfigRecord record{};
  ReadRecord((root_ / name).string().c_str(), record);
  return record;
}

std::string ConsoleFixture::Slot(const ConfigRecord& record, FieldSlot slot) const {
  std::string text;
  for (int32_t i = 0; i < slot.width && record.bytes[slot.offset + i] != 0; ++i) text += record.bytes[slot.offset + i];
  return text;
}

int32_t ConsoleFixture::RunConsole(const std::function<void(HWND)>& scenario) {
  headless::onDialog(kConsoleDialogId, [this, scenario](HWND console) {
    scenario(console);
    const WaWindow* window = waWindow(console);
    if (window != nullptr && !window->ended) tkEndDialog(console, 77);
  });
  return static_cast<int32_t>(tkDialogBox(context_.instance, kConsoleDialogId, 0, ConsoleProc, 0));
}

void ConsoleFixture::Wait(uint32_t ms) { pDoEvent(static_cast<int32_t>(ms)); }

void ConsoleFixture::AnswerPrompt(const std::string& answer, std::function<void()> after) {
  headless::onDialog(kPromptDialogId, [answer, after](HWND prompt) {
    const int32_t edit = VisibleEdit(prompt);
    EXPECT_NE(edit, 0) << "no edit shown in the prompt";
    headless::type(prompt, edit, answer);
    headless::keyUp(prompt, edit, VK_RETURN);
    headless::keyUp(prompt, edit, VK_RETURN);
    if (after) after();
  });
}

int ConsoleFixture::CountBoxes(const std::string& text) const {
  int n = 0;
  for (const headless::ShownBox& box : headless::boxes()) n += box.text == text ? 1 : 0;
  return n;
}

void ConsoleFixture::ControlLogin(HWND console, const std::string& id, const std::string& key,
                                  const std::string& confirm) {
  headless::type(console, kIdFieldId, id);
  headless::type(console, kKeyFieldId, key);
  AnswerPrompt(confirm);
  headless::click(console, kControlButtonId);
  headless::settle();
}

}  // namespace consoletest
