#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "platform/posix/front_ends/programmatic_front_end.h"
#include "platform/win32.h"
#include "tests/platform/posix/desktop/recording_window.h"

namespace {

using desktop_test::DispatchWaiting;
using desktop_test::RecordingWindow;
using platform::DialogChange;
using platform::DialogControlView;
using platform::ProgrammaticFrontEnd;
using resources::ControlKind;

constexpr int kUserName = 1003;
constexpr int kPassword = 1004;
constexpr int kAutostart = 1012;
constexpr int kCopy = 1013;
constexpr int kOk = 1001;

// What the dialog procedure of the test dialogs got, in order.
struct DialogCall {
  HWND dialog;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::string userName;  // as the procedure read it then
};
std::vector<DialogCall> dialogCalls;

INT_PTR CALLBACK RecordingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  char userName[256] = "";
  GetDlgItemTextA(dialog, 1003, userName, sizeof userName);
  dialogCalls.push_back(DialogCall{dialog, message, wParam, lParam, userName});
  return FALSE;
}

std::vector<WORD> CommandsTo(HWND dialog) {
  std::vector<WORD> commands;
  for (const DialogCall& call : dialogCalls) {
    if (call.dialog == dialog && call.message == WM_COMMAND) {
      EXPECT_EQ(HIWORD(call.wParam), BN_CLICKED);
      commands.push_back(LOWORD(call.wParam));
    }
  }
  return commands;
}

std::string ItemText(HWND dialog, int controlId) {
  char buffer[256];
  GetDlgItemTextA(dialog, controlId, buffer, sizeof buffer);
  return buffer;
}

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dialogCalls.clear();
    platform::SetFrontEnd(&frontEnd_);
    dialog_ =
        CreateDialogParamA(nullptr, MAKEINTRESOURCEA(5), owner_.handle(), &RecordingDialogProc, 77);
    ASSERT_NE(dialog_, nullptr);
  }
  void TearDown() override {
    if (IsWindow(dialog_)) {
      DestroyWindow(dialog_);
    }
    platform::SetFrontEnd(nullptr);
  }

  const DialogControlView& ShownControl(int id) {
    static DialogControlView none;
    last_ = frontEnd_.DialogEvents().back().dialog;
    for (const DialogControlView& control : last_.controls) {
      if (control.id == id) {
        return control;
      }
    }
    ADD_FAILURE() << "no control " << id;
    return none;
  }

  ProgrammaticFrontEnd frontEnd_;
  RecordingWindow owner_;
  HWND dialog_ = nullptr;
  platform::DialogView last_;
};

TEST_F(DialogsTest, BuiltHiddenFromTheTemplateAndShownOnRequest) {
  ASSERT_FALSE(dialogCalls.empty());
  EXPECT_EQ(dialogCalls[0].message, WM_INITDIALOG);
  EXPECT_EQ(dialogCalls[0].lParam, 77);
  EXPECT_TRUE(frontEnd_.DialogEvents().empty());

  ASSERT_TRUE(SetDlgItemTextA(dialog_, kUserName, "abc"));
  ASSERT_TRUE(SetDlgItemTextA(dialog_, kPassword, "secret"));
  EXPECT_FALSE(ShowWindow(dialog_, SW_SHOW));
  ASSERT_EQ(frontEnd_.DialogEvents().size(), 1u);
  EXPECT_EQ(frontEnd_.DialogEvents()[0].change, DialogChange::kShown);
  EXPECT_EQ(frontEnd_.DialogEvents()[0].dialog.caption, "Settings");

  std::vector<int> ids;
  const auto events = frontEnd_.DialogEvents();
  for (const DialogControlView& control : events[0].dialog.controls) {
    ids.push_back(control.id);
  }
  EXPECT_EQ(ids, (std::vector<int>{-1, 1003, -1, 1004, 1012, 1013, 1001, 1002}));
  EXPECT_EQ(ShownControl(-1).text, "Zarnik Username");
  EXPECT_EQ(ShownControl(kUserName).text, "abc");
  // The password is hidden from the front end, not from the program.
  EXPECT_EQ(ShownControl(kPassword).kind, ControlKind::kPasswordEdit);
  EXPECT_EQ(ShownControl(kPassword).text, "******");
  EXPECT_EQ(ItemText(dialog_, kPassword), "secret");
}

TEST_F(DialogsTest, ItemTextIsCutToTheBufferAndAlwaysTerminated) {
  ASSERT_TRUE(SetDlgItemTextA(dialog_, kUserName, std::string(300, 'u').c_str()));
  char buffer[256];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetDlgItemTextA(dialog_, kUserName, buffer, sizeof buffer), 255u);
  EXPECT_EQ(std::string(buffer), std::string(255, 'u'));

  char one[2] = {'#', '#'};
  EXPECT_EQ(GetDlgItemTextA(dialog_, kUserName, one, 1), 0u);
  EXPECT_EQ(one[0], '\0');
  EXPECT_EQ(one[1], '#');
  EXPECT_EQ(GetDlgItemTextA(dialog_, 4242, buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(SetDlgItemTextA(dialog_, 4242, "x"));
}

TEST_F(DialogsTest, CheckBoxState) {
  EXPECT_EQ(IsDlgButtonChecked(dialog_, kAutostart), BST_UNCHECKED);
  ASSERT_TRUE(CheckDlgButton(dialog_, kAutostart, BST_CHECKED));
  EXPECT_EQ(IsDlgButtonChecked(dialog_, kAutostart), BST_CHECKED);
  ASSERT_TRUE(CheckDlgButton(dialog_, kAutostart, BST_UNCHECKED));
  EXPECT_EQ(IsDlgButtonChecked(dialog_, kAutostart), BST_UNCHECKED);
  EXPECT_FALSE(CheckDlgButton(dialog_, kUserName, BST_CHECKED));
}

TEST_F(DialogsTest, InputFromTheFrontEndGoesThroughTheQueue) {
  ShowWindow(dialog_, SW_SHOW);
  ASSERT_TRUE(frontEnd_.TypeText(dialog_, kUserName, "typed"));
  ASSERT_TRUE(frontEnd_.ToggleCheckBox(dialog_, kAutostart));
  ASSERT_TRUE(frontEnd_.PressButton(dialog_, kOk));
  // Typed after the click: the dialog procedure must not see it while handling the click.
  ASSERT_TRUE(frontEnd_.TypeText(dialog_, kUserName, "late"));
  EXPECT_FALSE(frontEnd_.TypeText(dialog_, -1, "label"));
  EXPECT_FALSE(frontEnd_.TypeText(dialog_, kOk, "button"));
  EXPECT_FALSE(frontEnd_.PressButton(dialog_, kUserName));
  EXPECT_FALSE(frontEnd_.ToggleCheckBox(dialog_, kCopy));
  // Nothing happens before the dialog's thread reads its queue.
  EXPECT_EQ(ItemText(dialog_, kUserName), "");
  EXPECT_TRUE(CommandsTo(dialog_).empty());

  DispatchWaiting();
  EXPECT_EQ(dialogCalls.back().message, WM_COMMAND);
  EXPECT_EQ(dialogCalls.back().userName, "typed");
  EXPECT_EQ(ItemText(dialog_, kUserName), "late");
  EXPECT_EQ(IsDlgButtonChecked(dialog_, kAutostart), BST_CHECKED);
  EXPECT_EQ(CommandsTo(dialog_), (std::vector<WORD>{kAutostart, kOk}));
  EXPECT_EQ(ShownControl(kUserName).text, "late");
  EXPECT_TRUE(ShownControl(kAutostart).checked);
}

TEST_F(DialogsTest, DestroyingTheDialogOrItsOwnerEndsIt) {
  ShowWindow(dialog_, SW_SHOW);
  ASSERT_TRUE(DestroyWindow(dialog_));
  EXPECT_EQ(dialogCalls.back().message, WM_DESTROY);
  EXPECT_EQ(frontEnd_.DialogEvents().back().change, DialogChange::kDestroyed);
  EXPECT_FALSE(IsWindow(dialog_));
  EXPECT_FALSE(SetDlgItemTextA(dialog_, kUserName, "x"));
  EXPECT_FALSE(frontEnd_.PressButton(dialog_, kOk));

  RecordingWindow owner;
  HWND second =
      CreateDialogParamA(nullptr, MAKEINTRESOURCEA(5), owner.handle(), &RecordingDialogProc, 0);
  ASSERT_TRUE(DestroyWindow(owner.handle()));
  EXPECT_FALSE(IsWindow(second));
  EXPECT_EQ(CreateDialogParamA(nullptr, MAKEINTRESOURCEA(6), nullptr, &RecordingDialogProc, 0),
            nullptr);
}

class ClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetFrontEnd(&frontEnd_); }
  void TearDown() override { platform::SetFrontEnd(nullptr); }

  // The program's way: movable shareable memory, text with its zero, handed to the clipboard.
  static bool CopyText(const std::string& text) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, text.size() + 1);
    char* bytes = static_cast<char*>(GlobalLock(memory));
    if (bytes == nullptr) {
      return false;
    }
    std::memcpy(bytes, text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    const bool opened = OpenClipboard(nullptr);
    const bool done = opened && EmptyClipboard() && SetClipboardData(CF_TEXT, memory) == memory;
    return CloseClipboard() && done;
  }

  ProgrammaticFrontEnd frontEnd_;
};

TEST_F(ClipboardTest, CopiedTextReachesTheFrontEndAndTheTerminal) {
  ASSERT_TRUE(CopyText("first"));
  EXPECT_EQ(frontEnd_.TerminalOutput(), "");
  frontEnd_.AttachTerminal(true);
  ASSERT_TRUE(CopyText("http://localhost/all.xml"));
  EXPECT_EQ(frontEnd_.ClipboardTexts(),
            (std::vector<std::string>{"first", "http://localhost/all.xml"}));
  EXPECT_EQ(frontEnd_.TerminalOutput(), "\x1b]52;c;aHR0cDovL2xvY2FsaG9zdC9hbGwueG1s\x07");
}

TEST_F(ClipboardTest, Osc52PadsTheBase64) {
  frontEnd_.AttachTerminal(true);
  ASSERT_TRUE(CopyText("a"));
  ASSERT_TRUE(CopyText("ab"));
  ASSERT_TRUE(CopyText(""));
  EXPECT_EQ(frontEnd_.TerminalOutput(),
            "\x1b]52;c;YQ==\x07"
            "\x1b]52;c;YWI=\x07"
            "\x1b]52;c;\x07");
}

TEST_F(ClipboardTest, TextWithoutItsZeroIsReadNoFurtherThanItsMemory) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, 4);
  std::memcpy(GlobalLock(memory), "abcd", 4);
  GlobalUnlock(memory);
  ASSERT_TRUE(OpenClipboard(nullptr));
  ASSERT_EQ(SetClipboardData(CF_TEXT, memory), memory);
  CloseClipboard();
  EXPECT_EQ(frontEnd_.ClipboardTexts().back(), "abcd");
}

TEST_F(ClipboardTest, TheClipboardBelongsToOneThreadAtATime) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, 2);
  EXPECT_EQ(SetClipboardData(CF_TEXT, memory), nullptr);  // not open
  EXPECT_FALSE(EmptyClipboard());
  EXPECT_FALSE(CloseClipboard());

  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_FALSE(std::async(std::launch::async, [] { return OpenClipboard(nullptr); }).get());
  EXPECT_EQ(SetClipboardData(2 /* CF_BITMAP */, memory), nullptr);
  ASSERT_TRUE(CloseClipboard());
  EXPECT_TRUE(std::async(std::launch::async, [] {
                return OpenClipboard(nullptr) && CloseClipboard();
              }).get());
  EXPECT_EQ(GlobalFree(memory), nullptr);
}

TEST_F(ClipboardTest, EmptyingFreesWhatTheClipboardOwned) {
  HGLOBAL owned = GlobalAlloc(GMEM_MOVEABLE, 6);
  ASSERT_TRUE(OpenClipboard(nullptr));
  ASSERT_EQ(SetClipboardData(CF_TEXT, owned), owned);
  ASSERT_TRUE(EmptyClipboard());
  CloseClipboard();
  // Freed: a second free is refused, not carried out on memory that is gone.
  EXPECT_EQ(GlobalLock(owned), nullptr);
  EXPECT_EQ(GlobalFree(owned), owned);
}

}  // namespace
