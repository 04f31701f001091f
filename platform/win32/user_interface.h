#pragma once

// The Windows user interface as this program uses it: window classes and windows, the thread's
// message queue and timers, popup menus, the notification area, dialogs built from a template,
// and the clipboard with its global memory. Names, signatures and constant values are those of
// the Windows interface; platform/posix/desktop/ implements them, and a front end
// (platform/posix/front_ends/) shows them to a user or a test.
//
// Included by platform/win32.h only where <windows.h> is not available.

#include "platform/win32/kernel.h"

// Handles of the desktop: opaque pointers, as on Windows.
using HINSTANCE = void*;
using HMODULE = HINSTANCE;
using HWND = void*;
using HMENU = void*;
using HICON = void*;
using HCURSOR = void*;
using HBRUSH = void*;
using HGLOBAL = void*;
using HGDIOBJ = void*;

struct POINT {
  LONG x;
  LONG y;
};
using LPPOINT = POINT*;

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

/// Resource numbers passed where a name is expected, as the resource compiler numbers them.
inline LPSTR MAKEINTRESOURCEA(WORD number) {
  return reinterpret_cast<LPSTR>(static_cast<UINT_PTR>(number));
}
inline bool IS_INTRESOURCE(LPCSTR name) {
  return (reinterpret_cast<UINT_PTR>(name) >> 16) == 0;
}

constexpr WORD LOWORD(UINT_PTR value) {
  return static_cast<WORD>(value & 0xFFFF);
}
constexpr WORD HIWORD(UINT_PTR value) {
  return static_cast<WORD>((value >> 16) & 0xFFFF);
}
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) {
  return static_cast<WPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}

// ---- Window classes and windows ----

using WNDPROC = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);

struct WNDCLASSEXA {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
  HICON hIconSm;
};

/// What WM_CREATE carries in its second parameter.
struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};

constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_OVERLAPPEDWINDOW = 0x00CF0000;
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;
constexpr int WHITE_BRUSH = 0;
#define IDI_APPLICATION MAKEINTRESOURCEA(32512)
#define IDC_ARROW MAKEINTRESOURCEA(32512)
/// The parent that makes a window message-only: there only for its messages.
#define HWND_MESSAGE (reinterpret_cast<HWND>(static_cast<LONG_PTR>(-3)))

constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr DWORD ERROR_INVALID_MENU_HANDLE = 1401;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr DWORD ERROR_CLIPBOARD_NOT_OPEN = 1418;

/// Registers a class; 0 when the class has no name or procedure, or its name is taken. Each
/// window of the class gets cbWndExtra bytes of its own, zeroed (GetWindowLongPtrA).
ATOM RegisterClassExA(const WNDCLASSEXA* windowClass);
/// Fills the name, procedure and extra bytes of a registered class into `windowClass`; FALSE
/// (ERROR_CANNOT_FIND_WND_CLASS) when no class has that name. Classes belong to the process, so
/// the instance is not looked at.
BOOL GetClassInfoExA(HINSTANCE instance, LPCSTR className, WNDCLASSEXA* windowClass);
/// Creates a window owned by the calling thread, whose messages go to that thread's queue. The
/// procedure gets WM_CREATE before this returns; -1 from it destroys the window and gives NULL.
/// A window whose parent is HWND_MESSAGE has no owner and starts hidden.
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
LRESULT CALLBACK DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/// Destroys the windows it owns first, then sends WM_DESTROY and kills the window's timers. Only
/// the thread that created the window may destroy it.
BOOL DestroyWindow(HWND window);
/// Returns whether the window was visible before.
BOOL ShowWindow(HWND window, int command);
BOOL SetForegroundWindow(HWND window);
BOOL IsWindow(HWND window);
/// The value at byte `index` of the window's extra bytes; 0 (ERROR_INVALID_INDEX) when a value
/// there would not lie inside them.
LONG_PTR GetWindowLongPtrA(HWND window, int index);
/// Stores `value` at byte `index` of the window's extra bytes and returns the value it replaced;
/// 0 (ERROR_INVALID_INDEX) and nothing stored as GetWindowLongPtrA fails.
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
/// The last position the front end reported for the mouse.
BOOL GetCursorPos(LPPOINT point);
/// Icons by resource number: the program's 111 to 115, and IDI_APPLICATION with no instance.
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
HGDIOBJ GetStockObject(int object);

// ---- Messages and timers ----

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
using LPMSG = MSG*;

using TIMERPROC = void(CALLBACK*)(HWND, UINT, UINT_PTR, DWORD);

constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;
constexpr UINT PM_REMOVE = 0x0001;

/// Waits without using the processor until a message for the thread arrives. Returns 0 for
/// WM_QUIT (its wParam holds the exit code), -1 for a window handle that is not valid, and a
/// positive value otherwise. Posted messages come in the order posted; WM_TIMER only when nothing
/// else is waiting.
BOOL GetMessageA(LPMSG message, HWND window, UINT firstMessage, UINT lastMessage);
/// As GetMessageA without waiting; FALSE when nothing is there.
BOOL PeekMessageA(LPMSG message, HWND window, UINT firstMessage, UINT lastMessage, UINT remove);
/// Puts the message in the queue of the thread that created the window (or the calling
/// thread's queue for a NULL window). FALSE for an unknown window or a thread that has ended.
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/// Calls the procedure of a window of the calling thread at once and returns its answer. A
/// window of another thread is not reached: 0 with ERROR_ACCESS_DENIED (Windows would wait for
/// that thread to take the message).
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageA(const MSG* message);
void PostQuitMessage(int exitCode);
/// WM_TIMER comes every `milliseconds` while the queue is read, never more than one at a time
/// per timer. With a window the identifier is the caller's (and returned); SetTimer again with
/// it restarts the timer. Without a window a new identifier is returned.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC procedure);
BOOL KillTimer(HWND window, UINT_PTR id);

// ---- Popup menus ----

constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT TPM_BOTTOMALIGN = 0x0020;

HMENU CreatePopupMenu();
/// Inserts before the item at `position` (MF_BYPOSITION; 0xFFFFFFFF or past the end appends) or
/// before the item with that identifier. Text, separators and the greyed and disabled states.
BOOL InsertMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCSTR text);
BOOL DestroyMenu(HMENU menu);
/// Hands a copy of the menu to the front end and returns; a choice arrives later as WM_COMMAND
/// posted to `owner`. Without a front end the menu closes at once without a choice.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                    const RECT* rect);

// ---- The notification area ----

/// The fields of the first version of the record; the tip holds at most 63 characters.
struct NOTIFYICONDATAA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  char szTip[64];
};
using PNOTIFYICONDATAA = NOTIFYICONDATAA*;

/// The size of the first version of the record, which every version of the notification area
/// takes: 88 bytes in a 32-bit program.
constexpr DWORD NOTIFYICONDATAA_V1_SIZE = sizeof(NOTIFYICONDATAA);
constexpr DWORD NIM_ADD = 0x00000000;
constexpr DWORD NIM_MODIFY = 0x00000001;
constexpr DWORD NIM_DELETE = 0x00000002;
constexpr UINT NIF_MESSAGE = 0x00000001;
constexpr UINT NIF_ICON = 0x00000002;
constexpr UINT NIF_TIP = 0x00000004;

/// Adds (fails if there), modifies or deletes (fail if not there) the icon (hWnd, uID).
BOOL Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data);

// ---- Dialogs ----

using DLGPROC = INT_PTR(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);

constexpr UINT BST_UNCHECKED = 0x0000;
constexpr UINT BST_CHECKED = 0x0001;
constexpr WORD BN_CLICKED = 0;

/// Builds a hidden modeless dialog from a numbered template, owned by `owner`, on the calling
/// thread; the procedure gets WM_INITDIALOG (with `param`) before this returns.
HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure,
                        LPARAM param);
BOOL SetDlgItemTextA(HWND dialog, int controlId, LPCSTR text);
/// Copies at most size - 1 characters and a terminating zero; returns the characters copied.
UINT GetDlgItemTextA(HWND dialog, int controlId, LPSTR buffer, int size);
BOOL CheckDlgButton(HWND dialog, int controlId, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int controlId);

// ---- The clipboard and global memory ----

constexpr UINT CF_TEXT = 1;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_DDESHARE = 0x2000;

/// Opens the clipboard for the calling thread; FALSE while another thread has it open.
BOOL OpenClipboard(HWND owner);
BOOL EmptyClipboard();
/// Takes ownership of the memory, which holds zero-terminated text (CF_TEXT only). Returns the
/// handle, or NULL when the clipboard is not open or the format is not CF_TEXT.
HANDLE SetClipboardData(UINT format, HANDLE memory);
BOOL CloseClipboard();

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID GlobalLock(HGLOBAL memory);
/// TRUE while the memory is still locked after this call.
BOOL GlobalUnlock(HGLOBAL memory);
/// NULL on success; the handle itself when it was not valid.
HGLOBAL GlobalFree(HGLOBAL memory);
