// The console window of the link tests: the program's own console template,
// run by a procedure that does nothing, so the status line, the progress bar
// and the indicators are real controls. The status line's and the progress
// bar's procedures are replaced by recorders, so every text the line showed
// and every position the bar took can be read back in order.
#include <string>
#include <vector>

#include "console/console.h"
#include "link_fixture.h"
#include "resources/resources.h"
#include "toolkit/dialog.h"
#include "winapi/headless/driver.h"
#include "winapi/winapi.h"

namespace linktest {

namespace {

struct Recorder {
  HWND dialog = 0;
  WNDPROC statusProc = nullptr;
  WNDPROC progressProc = nullptr;
  std::vector<std::string> texts;
  std::vector<int32_t> positions;
};

Recorder recorder;

LRESULT QuietConsole(HWND, UINT, WPARAM, LPARAM) { return 0; }

LRESULT RecordStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT && lParam != 0) recorder.texts.emplace_back(reinterpret_cast<const char*>(lParam));
  return tkCallWindowProc(recorder.statusProc, window, message, wParam, lParam);
}

LRESULT RecordProgress(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PBM_SETPOS) recorder.positions.push_back(int32_t(wParam));
  return tkCallWindowProc(recorder.progressProc, window, message, wParam, lParam);
}

}  // namespace

void LinkFixture::OpenConsoleWindow() {
  recorder = Recorder{};
  const HINSTANCE instance = tkModuleHandle(&VelloranResources());
  recorder.dialog = tkCreateDialog(instance, res::kConsoleDialog, 0, QuietConsole, 0);
  ASSERT_NE(recorder.dialog, 0u);
  Console().record.handle = recorder.dialog;
  Console().statusLine = tkGetDlgItem(recorder.dialog, kStatusLineId);
  recorder.statusProc = waSetWindowProc(Console().statusLine, RecordStatus);
  recorder.progressProc = waSetWindowProc(tkGetDlgItem(recorder.dialog, kProgressBarId), RecordProgress);
}

void LinkFixture::CloseConsoleWindow() {
  EXPECT_TRUE(headless::failures().empty()) << headless::failures().front();
  if (recorder.dialog != 0) tkDestroyWindow(recorder.dialog);
  recorder = Recorder{};
}

std::string LinkFixture::StatusText() const { return headless::text(recorder.dialog, kStatusLineId); }

std::vector<std::string> LinkFixture::TakeStatusHistory() {
  std::vector<std::string> texts;
  texts.swap(recorder.texts);
  // A message built in pieces shows each piece as it is added, and a new
  // message first empties the line; what the line said is the text once the
  // message was whole, so only the last text of each message is kept.
  std::vector<std::string> messages;
  bool fresh = true;
  for (const std::string& t : texts) {
    if (t.empty()) {
      fresh = true;
      continue;
    }
    if (!fresh && !messages.empty() && t.rfind(messages.back(), 0) == 0)
      messages.back() = t;
    else
      messages.push_back(t);
    fresh = false;
  }
  return messages;
}

bool LinkFixture::StatusShowed(const std::string& text) {
  for (const std::string& t : recorder.texts)
    if (t == text) return true;
  return false;
}

int32_t LinkFixture::Progress() const { return headless::progress(recorder.dialog, kProgressBarId); }

std::vector<int32_t> LinkFixture::TakeProgressHistory() {
  std::vector<int32_t> positions;
  positions.swap(recorder.positions);
  return positions;
}

std::string LinkFixture::Indicator(int32_t id) const { return headless::text(recorder.dialog, id); }

std::string LinkFixture::LastAlertCaption() const {
  return headless::boxes().empty() ? "" : headless::boxes().back().caption;
}

std::string LinkFixture::LastAlertText() const { return headless::boxes().empty() ? "" : headless::boxes().back().text; }

}  // namespace linktest
