// The terminal front end: raw keys in, ANSI lines out. A reader thread sleeps in a wake-able
// wait on the terminal, so an idle terminal costs nothing; keys become the layer's input
// functions, which reach the program through its message queue.
#include "platform/posix/front_ends/terminal_front_end.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <mutex>

#include "platform/posix/kernel/system_calls.h"
#include "platform/posix/kernel/wakeable_wait.h"

namespace platform {
namespace {

using resources::ControlKind;

// How long an Esc waits for the rest of an arrow key's sequence before it counts alone.
constexpr int kEscapeSequenceWaitMs = 40;

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGQUIT};

// The terminal modes to put back, for the exit and fatal-signal paths as well as Stop. Plain
// data set before `modesFd` is published, because a signal handler reads it. One front end at a
// time may hold the terminal.
std::atomic<bool> modesClaimed{false};
std::atomic<int> modesFd{-1};
termios savedModes;
struct sigaction previousFatalActions[std::size(kFatalSignals)];

void RestoreSavedModes() {
  const int fd = modesFd.load();
  if (fd >= 0) {
    tcsetattr(fd, TCSANOW, &savedModes);
  }
}

extern "C" void RestoreModesAtExit() {
  RestoreSavedModes();
}

// Puts the terminal back, then hands the signal to whoever had it before us: the re-raised
// signal (blocked while we run) or the faulting instruction repeated reaches that handler.
extern "C" void RestoreModesOnFatalSignal(int signalNumber) {
  RestoreSavedModes();
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) {
    if (kFatalSignals[i] == signalNumber) {
      sigaction(signalNumber, &previousFatalActions[i], nullptr);
    }
  }
  raise(signalNumber);
}

bool ClaimTerminalModes(int fd, const termios& modes) {
  bool expected = false;
  if (!modesClaimed.compare_exchange_strong(expected, true)) {
    return false;
  }
  static std::once_flag atExit;
  std::call_once(atExit, [] { std::atexit(RestoreModesAtExit); });
  savedModes = modes;
  modesFd.store(fd);
  struct sigaction action {};
  action.sa_handler = RestoreModesOnFatalSignal;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) {
    sigaction(kFatalSignals[i], &action, &previousFatalActions[i]);
  }
  return true;
}

void ReleaseTerminalModes() {
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) {
    sigaction(kFatalSignals[i], &previousFatalActions[i], nullptr);
  }
  RestoreSavedModes();
  modesFd.store(-1);
  modesClaimed.store(false);
}

bool TakesFocus(ControlKind kind) {
  return kind != ControlKind::kStatic;
}

// Texts come from the program; control characters in them must not reach the terminal as
// commands.
std::string Printable(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      c = '?';
    }
  }
  return shown;
}

std::size_t FirstFocusable(const DialogView& view) {
  for (std::size_t i = 0; i < view.controls.size(); ++i) {
    if (TakesFocus(view.controls[i].kind)) {
      return i;
    }
  }
  return 0;
}

}  // namespace

TerminalFrontEnd::TerminalFrontEnd(int inputFd, int outputFd)
    : inputFd_(inputFd), outputFd_(outputFd) {}

TerminalFrontEnd::~TerminalFrontEnd() {
  Stop();
}

char TerminalFrontEnd::IconCharacter(int iconNumber) {
  static const char kSpinner[] = {'|', '/', '-', '\\'};
  if (iconNumber == 0) {
    return ' ';
  }
  if (iconNumber >= 112 && iconNumber <= 115) {
    return kSpinner[iconNumber - 112];
  }
  return '*';
}

bool TerminalFrontEnd::Start() {
  if (stop_) {
    return true;
  }
  termios modes;
  if (!isatty(inputFd_) || tcgetattr(inputFd_, &modes) != 0) {
    return false;
  }
  stop_ = WakeableWait::Create();
  if (!stop_) {
    return false;
  }
  if (!ClaimTerminalModes(inputFd_, modes)) {
    stop_.reset();
    return false;
  }
  // Keys one at a time without echo. ISIG stays on: Ctrl-C is SIGINT, which the program turns
  // into "Exit". Output processing stays on too.
  termios raw = modes;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
  raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IXON);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(inputFd_, TCSANOW, &raw);
  pushedBack_ = -1;
  reader_ = std::thread(&TerminalFrontEnd::ReadKeys, this);
  std::lock_guard<std::mutex> hold(lock_);
  attached_ = true;
  DrawLocked();
  return true;
}

void TerminalFrontEnd::Stop() {
  if (!stop_) {
    return;
  }
  stop_->Wake();
  reader_.join();
  {
    std::lock_guard<std::mutex> hold(lock_);
    EraseLocked();
    attached_ = false;
  }
  ReleaseTerminalModes();
  stop_.reset();
}

// ---- What the layer tells us ----

void TerminalFrontEnd::OnNotifyIcon(NotifyIconChange change, const NotifyIconView& icon) {
  std::lock_guard<std::mutex> hold(lock_);
  TrackNotifyIcon(change, icon, iconShown_, icon_);
  DrawLocked();
}

void TerminalFrontEnd::ShowMenu(const MenuView& menu) {
  std::lock_guard<std::mutex> hold(lock_);
  menuOpen_ = true;
  menu_ = menu;
  DrawLocked();
}

void TerminalFrontEnd::OnDialog(DialogChange change, const DialogView& dialog) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = std::find_if(dialogs_.begin(), dialogs_.end(), [&](const OpenDialog& open) {
    return open.view.dialog == dialog.dialog;
  });
  if (change == DialogChange::kHidden || change == DialogChange::kDestroyed) {
    if (found != dialogs_.end()) {
      dialogs_.erase(found);
    }
  } else if (found != dialogs_.end()) {
    found->view = dialog;
  } else if (change == DialogChange::kShown) {
    dialogs_.push_back(OpenDialog{dialog, FirstFocusable(dialog), {}});
  }
  DrawLocked();
}

void TerminalFrontEnd::OnClipboardText(const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  notice_ = "Copied to the clipboard: " + text;
  DrawLocked();
}

bool TerminalFrontEnd::TerminalAttached() {
  std::lock_guard<std::mutex> hold(lock_);
  return attached_;
}

void TerminalFrontEnd::WriteToTerminal(const std::string& bytes) {
  std::lock_guard<std::mutex> hold(lock_);
  if (attached_) {
    WriteAll(outputFd_, bytes);
  }
}

bool TerminalFrontEnd::ShowOutputLine(const std::string& line) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!attached_) {
    return false;
  }
  EraseLocked();
  WriteAll(outputFd_, Printable(line) + "\r\n");
  DrawLocked();
  return true;
}

// ---- Keys ----

TerminalFrontEnd::ReadResult TerminalFrontEnd::ReadByte(char* byte, int timeoutMs) {
  if (pushedBack_ >= 0) {
    *byte = static_cast<char>(pushedBack_);
    pushedBack_ = -1;
    return ReadResult::kByte;
  }
  for (;;) {
    const WakeableWait::Result waited = stop_->WaitReadable(inputFd_, timeoutMs);
    if (waited == WakeableWait::Result::kTimedOut) {
      return ReadResult::kTimeOut;
    }
    if (waited != WakeableWait::Result::kReadable) {
      return ReadResult::kEnd;
    }
    const ssize_t got = read(inputFd_, byte, 1);
    if (got == 1) {
      return ReadResult::kByte;
    }
    // Nothing to read after all: back to the wait, which Stop can end, rather than into a read
    // that could block.
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    return ReadResult::kEnd;  // the terminal hung up
  }
}

TerminalFrontEnd::KeyPress TerminalFrontEnd::NextKey() {
  char byte;
  if (ReadByte(&byte, -1) != ReadResult::kByte) {
    return KeyPress{};
  }
  switch (byte) {
    case '\r':
    case '\n':
      return KeyPress{Key::kEnter, 0};
    case '\t':
      return KeyPress{Key::kTab, 0};
    case 0x7F:
    case 0x08:
      return KeyPress{Key::kBackspace, 0};
    case 0x1B:
      break;
    default: {
      const unsigned char value = static_cast<unsigned char>(byte);
      return value >= 0x20 ? KeyPress{Key::kCharacter, byte} : KeyPress{Key::kOther, 0};
    }
  }
  // Esc alone, or the start of an arrow key: ESC [ A, ESC O A, ESC [ 1 ; 2 A, ESC [ Z.
  char next;
  const ReadResult result = ReadByte(&next, kEscapeSequenceWaitMs);
  if (result == ReadResult::kEnd) {
    return KeyPress{};
  }
  if (result == ReadResult::kTimeOut) {
    return KeyPress{Key::kEscape, 0};
  }
  if (next != '[' && next != 'O') {
    pushedBack_ = static_cast<unsigned char>(next);  // typed right after Esc: the next key
    return KeyPress{Key::kEscape, 0};
  }
  char finalByte = 0;
  do {
    if (ReadByte(&finalByte, kEscapeSequenceWaitMs) != ReadResult::kByte) {
      return KeyPress{Key::kOther, 0};
    }
  } while (finalByte >= 0x20 && finalByte <= 0x3F);  // parameter bytes
  switch (finalByte) {
    case 'A':
      return KeyPress{Key::kUp, 0};
    case 'B':
      return KeyPress{Key::kDown, 0};
    case 'Z':
      return KeyPress{Key::kBackTab, 0};
    default:
      return KeyPress{Key::kOther, 0};
  }
}

void TerminalFrontEnd::ReadKeys() {
  for (;;) {
    const KeyPress press = NextKey();
    if (press.key == Key::kNone) {
      return;
    }
    HandleKey(press);
  }
}

// The layer's input functions are called without our lock held: they never call back into the
// front end, but the layer may call us from the window thread at any time.
void TerminalFrontEnd::HandleKey(const KeyPress& press) {
  bool menuOpen;
  MenuView menu;
  bool inDialog;
  {
    std::lock_guard<std::mutex> hold(lock_);
    notice_.clear();
    menuOpen = menuOpen_;
    menu = menu_;
    inDialog = !dialogs_.empty();
  }
  if (menuOpen) {
    HandleMenuKey(press, menu);
  } else if (inDialog) {
    HandleDialogKey(press);
  } else {
    HandleStatusKey(press);
  }
  std::lock_guard<std::mutex> hold(lock_);
  DrawLocked();
}

void TerminalFrontEnd::HandleStatusKey(const KeyPress& press) {
  const bool right = press.key == Key::kEnter || press.Is('m');
  if (!right && !press.Is('l')) {
    return;
  }
  NotifyIconView icon;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!iconShown_) {
      notice_ = "There is no tray icon to click.";
      return;
    }
    icon = icon_;
  }
  // A click is a press and a release, as the notification area reports it.
  PostNotifyIconMouseEvent(icon.owner, icon.id, right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN);
  PostNotifyIconMouseEvent(icon.owner, icon.id, right ? WM_RBUTTONUP : WM_LBUTTONUP);
}

void TerminalFrontEnd::HandleMenuKey(const KeyPress& press, const MenuView& menu) {
  if (press.key == Key::kEscape) {
    MarkMenuOpen(menu.serial, false);
    CloseMenu(menu.serial);
  } else if (press.key == Key::kCharacter && press.character >= '1' && press.character <= '9') {
    // Keys number the items that are not separators, top to bottom.
    std::size_t wanted = static_cast<std::size_t>(press.character - '1');
    std::size_t position = 0;
    for (; position < menu.items.size(); ++position) {
      if (!menu.items[position].separator && wanted-- == 0) {
        break;
      }
    }
    if (position == menu.items.size()) {
      return;
    }
    // Closed before the choice goes out: whatever the command redraws must not show the menu.
    MarkMenuOpen(menu.serial, false);
    if (!ChooseMenuItem(menu.serial, static_cast<UINT>(position))) {
      MarkMenuOpen(menu.serial, true);
      std::lock_guard<std::mutex> hold(lock_);
      notice_ = "\"" + menu.items[position].text + "\" is not available now.";
    }
  }
}

void TerminalFrontEnd::MarkMenuOpen(unsigned serial, bool open) {
  std::lock_guard<std::mutex> hold(lock_);
  if (menu_.serial == serial) {
    menuOpen_ = open;
  }
}

void TerminalFrontEnd::MoveFocus(OpenDialog& dialog, bool forward) {
  const std::size_t count = dialog.view.controls.size();
  for (std::size_t step = 1; step <= count; ++step) {
    const std::size_t next =
        forward ? (dialog.focus + step) % count : (dialog.focus + count - step % count) % count;
    if (TakesFocus(dialog.view.controls[next].kind)) {
      dialog.focus = next;
      return;
    }
  }
}

void TerminalFrontEnd::HandleDialogKey(const KeyPress& press) {
  HWND dialog;
  DialogControlView focused;
  bool needsText = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (dialogs_.empty() || dialogs_.back().view.controls.empty()) {
      return;
    }
    OpenDialog& open = dialogs_.back();
    dialog = open.view.dialog;
    focused = open.view.controls[open.focus];
    needsText = IsEdit(focused.kind) && open.typed.count(focused.id) == 0;
  }
  // The edit's real text (a password edit shows only '*'); asked for at the first key for it,
  // when none of our own typing into it is still on its way.
  std::string current;
  if (needsText) {
    std::vector<char> buffer(65536);
    GetDlgItemTextA(dialog, focused.id, buffer.data(), static_cast<int>(buffer.size()));
    current = buffer.data();
  }

  // What the key does to the dialog, done once the lock is let go.
  std::function<void()> act;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (dialogs_.empty() || dialogs_.back().view.dialog != dialog) {
      return;  // closed meanwhile
    }
    OpenDialog& open = dialogs_.back();
    if (needsText) {
      open.typed.emplace(focused.id, current);  // unless typing got there first
    }
    const bool activate = press.key == Key::kEnter || press.Is(' ');
    if (press.key == Key::kTab || press.key == Key::kDown) {
      MoveFocus(open, true);
    } else if (press.key == Key::kBackTab || press.key == Key::kUp) {
      MoveFocus(open, false);
    } else if (press.key == Key::kEscape) {
      auto cancel = std::find_if(open.view.controls.begin(), open.view.controls.end(),
                                 [](const DialogControlView& control) {
                                   return IsPushButton(control.kind) && control.text == "Cancel";
                                 });
      if (cancel != open.view.controls.end()) {
        act = [dialog, id = cancel->id] { PressDialogButton(dialog, id); };
      }
    } else if (IsEdit(focused.kind) && press.key == Key::kEnter) {
      MoveFocus(open, true);
    } else if (IsEdit(focused.kind)) {
      std::string& typed = open.typed[focused.id];
      if (press.key == Key::kCharacter) {
        typed.push_back(press.character);
      } else if (press.key == Key::kBackspace && !typed.empty()) {
        typed.pop_back();
      } else {
        return;
      }
      act = [dialog, id = focused.id, text = typed] { SetDialogControlText(dialog, id, text); };
    } else if (focused.kind == ControlKind::kCheckBox && activate) {
      act = [dialog, id = focused.id] { ToggleDialogCheckBox(dialog, id); };
    } else if (IsPushButton(focused.kind) && activate) {
      act = [dialog, id = focused.id] { PressDialogButton(dialog, id); };
    }
  }
  if (act) {
    act();
  }
}

// ---- Drawing ----

std::vector<std::string> TerminalFrontEnd::ScreenLinesLocked() const {
  std::string status = "[";
  status += iconShown_ ? IconCharacter(icon_.iconNumber) : ' ';
  status += "] ";
  status += iconShown_ ? Printable(icon_.tip) : "(no tray icon)";
  std::vector<std::string> lines{status};
  if (menuOpen_) {
    unsigned key = 0;
    for (const MenuItemView& item : menu_.items) {
      if (item.separator) {
        lines.push_back("     --------");
        continue;
      }
      std::string line = "  ";
      line += ++key <= 9 ? static_cast<char>('0' + key) : ' ';
      line += "  " + Printable(item.text);
      if (!item.Choosable()) {
        line += "  (greyed)";
      }
      lines.push_back(line);
    }
    lines.push_back("  1-9: choose   Esc: close the menu");
  } else if (!dialogs_.empty()) {
    const OpenDialog& open = dialogs_.back();
    lines.push_back("  == " + Printable(open.view.caption) + " ==");
    for (std::size_t i = 0; i < open.view.controls.size(); ++i) {
      const DialogControlView& control = open.view.controls[i];
      std::string line = i == open.focus ? "  > " : "    ";
      std::string text = control.text;
      if (IsEdit(control.kind)) {
        auto typed = open.typed.find(control.id);
        if (typed != open.typed.end()) {
          text = typed->second;
        }
        // Never the password itself: one '*' per character.
        if (control.kind == ControlKind::kPasswordEdit) {
          text.assign(text.size(), '*');
        }
        line += "[" + Printable(text) + "]";
      } else if (control.kind == ControlKind::kCheckBox) {
        line += (control.checked ? "[x] " : "[ ] ") + Printable(text);
      } else if (IsPushButton(control.kind)) {
        line += "< " + Printable(text) + " >";
      } else {
        line += Printable(text);
      }
      lines.push_back(line);
    }
    lines.push_back("  Tab/arrows: move   Space: toggle, press   Enter: press   Esc: Cancel");
  } else {
    lines[0] += "   (Enter/m: menu, l: left click)";
  }
  if (!notice_.empty()) {
    lines.push_back("  " + Printable(notice_));
  }
  return lines;
}

void TerminalFrontEnd::EraseLocked() {
  std::string out;
  if (linesDrawn_ > 1) {
    out += "\x1b[" + std::to_string(linesDrawn_ - 1) + "A";
  }
  out += "\r\x1b[J";
  linesDrawn_ = 0;
  WriteAll(outputFd_, out);
}

void TerminalFrontEnd::DrawLocked() {
  if (!attached_) {
    return;
  }
  // Lines are cut to the width, so that none wraps and the count of lines to redraw holds.
  winsize size{};
  std::size_t width = 80;
  if (ioctl(outputFd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) {
    width = size.ws_col;
  }
  const std::vector<std::string> lines = ScreenLinesLocked();
  EraseLocked();
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    out += (i == 0 ? "" : "\r\n") + lines[i].substr(0, width - 1);
  }
  linesDrawn_ = lines.size();
  WriteAll(outputFd_, out);
}

}  // namespace platform
