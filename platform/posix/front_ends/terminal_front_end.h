#pragma once

// The tray program in a terminal: one status line shows the tray icon and its tip, a popup menu
// lists its items with a key each, and a dialog shows its controls for editing. Keys become the
// mouse clicks and typing of the front-end input functions, so the program cannot tell a person
// at a terminal from a person at a Windows desktop.
//
// Keys: Enter or "m" right-clicks the icon, "l" left-clicks it. In a menu, 1..9 choose an item
// and Esc closes the menu. In a dialog, Tab or the arrow keys move between controls, typing edits
// the focused edit (Backspace erases), Space toggles a check box or presses a button, Enter
// presses a button, Esc presses "Cancel".

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/front_ends/front_end.h"

namespace platform {

class WakeableWait;

class TerminalFrontEnd : public FrontEnd {
 public:
  /// Reads keys from `inputFd` and draws on `outputFd`; both stay the caller's.
  TerminalFrontEnd(int inputFd, int outputFd);
  /// Stops and restores the terminal.
  ~TerminalFrontEnd() override;
  TerminalFrontEnd(const TerminalFrontEnd&) = delete;
  TerminalFrontEnd& operator=(const TerminalFrontEnd&) = delete;

  /// Puts the input terminal into raw mode (no echo, one key at a time) and starts reading keys.
  /// False, with nothing changed, when the input is not a terminal or the reader cannot start.
  /// The modes are restored by Stop, at exit and on a fatal signal.
  bool Start();
  /// Stops reading (within a fraction of a second), erases what was drawn and restores the
  /// terminal's modes. Does nothing when not started.
  void Stop();

  void OnNotifyIcon(NotifyIconChange change, const NotifyIconView& icon) override;
  void ShowMenu(const MenuView& menu) override;
  void OnDialog(DialogChange change, const DialogView& dialog) override;
  void OnClipboardText(const std::string& text) override;
  bool TerminalAttached() override;
  void WriteToTerminal(const std::string& bytes) override;
  /// Prints the line above what is drawn, which is then drawn again below it.
  bool ShowOutputLine(const std::string& line) override;

  /// The character that stands for an icon picture: 112..115 are '|', '/', '-', '\\' (one turn
  /// of a spinner), no picture ' ', any other '*'.
  static char IconCharacter(int iconNumber);

 private:
  enum class Key {
    kNone,
    kOther,
    kCharacter,
    kEnter,
    kEscape,
    kTab,
    kBackTab,
    kUp,
    kDown,
    kBackspace
  };
  struct KeyPress {
    Key key = Key::kNone;
    char character = 0;
    bool Is(char typed) const { return key == Key::kCharacter && character == typed; }
  };
  struct OpenDialog {
    DialogView view;
    std::size_t focus = 0;  ///< index into view.controls
    /// Our copy of each edit's text as typed (a password edit shows only '*'), by control id;
    /// taken from the dialog at the first key for that control.
    std::map<int, std::string> typed;
  };

  void ReadKeys();
  KeyPress NextKey();
  /// One byte from the input, waiting at most `timeoutMs` (-1: until one comes); kEnd on Stop
  /// or at the end of the input.
  enum class ReadResult { kByte, kTimeOut, kEnd };
  ReadResult ReadByte(char* byte, int timeoutMs);
  void HandleKey(const KeyPress& press);
  void HandleStatusKey(const KeyPress& press);
  void HandleMenuKey(const KeyPress& press, const MenuView& menu);
  /// Marks the menu `serial` open or closed, unless another menu has replaced it.
  void MarkMenuOpen(unsigned serial, bool open);
  void HandleDialogKey(const KeyPress& press);
  void MoveFocus(OpenDialog& dialog, bool forward);

  /// Redraws everything; the caller holds lock_.
  void DrawLocked();
  std::vector<std::string> ScreenLinesLocked() const;
  void EraseLocked();

  const int inputFd_;
  const int outputFd_;
  std::unique_ptr<WakeableWait> stop_;  ///< ends the reader's wait; set while started
  std::thread reader_;
  int pushedBack_ = -1;  ///< a byte read too far while looking for an arrow key; reader only

  std::mutex lock_;
  bool attached_ = false;  ///< drawing allowed: between Start and Stop
  bool iconShown_ = false;
  NotifyIconView icon_;
  bool menuOpen_ = false;
  MenuView menu_;
  std::vector<OpenDialog> dialogs_;  ///< shown dialogs, the newest (the one edited) last
  std::string notice_;               ///< one line of feedback, cleared by the next key
  std::size_t linesDrawn_ = 0;
};

}  // namespace platform
