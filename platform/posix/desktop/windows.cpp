// Window classes and windows: the table of windows by handle, creation and destruction, and the
// small things a hidden window needs (icons, cursor, brush, foreground, cursor position).
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "platform/posix/desktop/window_table.h"

namespace platform {
namespace {

// What a window of a class is made with.
struct WindowClass {
  WNDPROC procedure = nullptr;
  int extraBytes = 0;
};

class ClassTable {
 public:
  ATOM Register(const std::string& name, WindowClass windowClass) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!classes_.emplace(name, windowClass).second) {
      SetLastErrorCode(ERROR_CLASS_ALREADY_EXISTS);
      return 0;
    }
    return nextAtom_++;
  }

  /// The class of that name; one without a procedure when there is none.
  WindowClass Find(const std::string& name) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = classes_.find(name);
    return found == classes_.end() ? WindowClass{} : found->second;
  }

 private:
  mutable std::mutex lock_;
  std::map<std::string, WindowClass> classes_;
  ATOM nextAtom_ = 0xC000;
};

WindowClass FindClass(LPCSTR name) {
  WindowClass found;
  if (name != nullptr && !IS_INTRESOURCE(name)) {
    found = TheOne<ClassTable>().Find(name);
  }
  if (found.procedure == nullptr) {
    SetLastErrorCode(ERROR_CANNOT_FIND_WND_CLASS);
  }
  return found;
}

// The window's extra bytes at `index` when a LONG_PTR there lies inside them, else null (with
// the last error set).
unsigned char* ExtraBytesAt(WindowRecord& record, int index) {
  if (index < 0 || static_cast<std::size_t>(index) + sizeof(LONG_PTR) > record.extraBytes.size()) {
    SetLastErrorCode(ERROR_INVALID_INDEX);
    return nullptr;
  }
  return record.extraBytes.data() + index;
}

// Where the front end last saw the mouse: what GetCursorPos answers. Under a lock rather than an
// atomic: a POINT is not aligned for one, and clang would then need libatomic.
std::mutex cursorLock;
POINT cursorPosition{0, 0};

// Icon and cursor handles carry their resource number, so the front end can tell which
// picture to show without a table of loaded icons.
constexpr std::uintptr_t kIconHandleBase = 0x1C000000;
constexpr WORD kStandardIcon = 32512;  // IDI_APPLICATION and IDC_ARROW
constexpr std::uintptr_t kBrushHandle = 0x1B000000;

HANDLE NumberedHandle(WORD number) {
  return reinterpret_cast<HANDLE>(kIconHandleBase + number);
}

}  // namespace

HWND WindowTable::Add(std::shared_ptr<WindowRecord> record) {
  std::lock_guard<std::mutex> hold(lock_);
  HWND handle = reinterpret_cast<HWND>(nextHandle_);
  nextHandle_ += 4;
  // Set before anyone else can find the record.
  record->handle = handle;
  windows_.emplace(handle, std::move(record));
  return handle;
}

void WindowTable::Remove(HWND window) {
  std::lock_guard<std::mutex> hold(lock_);
  windows_.erase(window);
}

std::shared_ptr<WindowRecord> WindowTable::Find(HWND window) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = windows_.find(window);
  if (found == windows_.end()) {
    SetLastErrorCode(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return found->second;
}

std::shared_ptr<WindowRecord> NewWindowRecord(HWND owner, std::string title) {
  if (owner != nullptr && !TheOne<WindowTable>().Find(owner)) {
    return nullptr;
  }
  auto record = std::make_shared<WindowRecord>();
  record->owner = owner;
  record->queue = MessageQueue::OfThisThread();
  record->title = std::move(title);
  return record;
}

std::vector<HWND> WindowTable::OwnedBy(HWND owner) const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<HWND> owned;
  for (const auto& entry : windows_) {
    if (entry.second->owner == owner) {
      owned.push_back(entry.first);
    }
  }
  return owned;
}

LRESULT CallWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<WindowRecord> record = TheOne<WindowTable>().Find(window);
  if (!record) {
    return 0;
  }
  if (record->dialogProcedure != nullptr) {
    return record->dialogProcedure(window, message, wParam, lParam);
  }
  return record->procedure(window, message, wParam, lParam);
}

void MoveCursor(POINT position) {
  std::lock_guard<std::mutex> hold(cursorLock);
  cursorPosition = position;
}

int IconResourceNumber(HICON icon) {
  const auto value = reinterpret_cast<std::uintptr_t>(icon);
  if (value <= kIconHandleBase || value > kIconHandleBase + 0xFFFF) {
    return 0;
  }
  return static_cast<int>(value - kIconHandleBase);
}

}  // namespace platform

using platform::TheOne;
using platform::WindowRecord;
using platform::WindowTable;

ATOM RegisterClassExA(const WNDCLASSEXA* windowClass) {
  if (windowClass == nullptr || windowClass->lpfnWndProc == nullptr ||
      windowClass->lpszClassName == nullptr || IS_INTRESOURCE(windowClass->lpszClassName)) {
    platform::SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return TheOne<platform::ClassTable>().Register(
      windowClass->lpszClassName, {windowClass->lpfnWndProc, std::max(windowClass->cbWndExtra, 0)});
}

BOOL GetClassInfoExA(HINSTANCE instance, LPCSTR className, WNDCLASSEXA* windowClass) {
  const platform::WindowClass found = platform::FindClass(className);
  if (found.procedure == nullptr || windowClass == nullptr) {
    return FALSE;
  }
  *windowClass = WNDCLASSEXA{};
  windowClass->cbSize = sizeof(WNDCLASSEXA);
  windowClass->lpfnWndProc = found.procedure;
  windowClass->cbWndExtra = found.extraBytes;
  windowClass->hInstance = instance;
  windowClass->lpszClassName = className;
  return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
  const platform::WindowClass windowClass = platform::FindClass(className);
  if (windowClass.procedure == nullptr) {
    return nullptr;
  }
  if (parent == HWND_MESSAGE) {
    parent = nullptr;
    style &= ~WS_VISIBLE;
  }
  std::shared_ptr<WindowRecord> record =
      platform::NewWindowRecord(parent, windowName != nullptr ? windowName : "");
  if (!record) {
    return nullptr;
  }
  record->procedure = windowClass.procedure;
  record->extraBytes.assign(static_cast<std::size_t>(windowClass.extraBytes), 0);
  record->visible = (style & WS_VISIBLE) != 0;
  HWND window = TheOne<WindowTable>().Add(std::move(record));

  CREATESTRUCTA create{
      param,      instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
      windowName, className, exStyle};
  const LRESULT created =
      platform::CallWindowProcedure(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create));
  if (created == -1) {
    DestroyWindow(window);
    return nullptr;
  }
  return window;
}

LRESULT CALLBACK DefWindowProcA(HWND window, UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/) {
  if (message == WM_CLOSE) {
    DestroyWindow(window);
  }
  return 0;
}

BOOL DestroyWindow(HWND window) {
  std::shared_ptr<WindowRecord> record = TheOne<WindowTable>().Find(window);
  if (!record) {
    return FALSE;
  }
  if (record->queue != platform::MessageQueue::OfThisThread()) {
    platform::SetLastErrorCode(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> hold(record->lock);
    if (record->destroying) {
      return TRUE;  // called again from its own WM_DESTROY
    }
    record->destroying = true;
  }
  for (HWND owned : TheOne<WindowTable>().OwnedBy(window)) {
    DestroyWindow(owned);
  }
  platform::CallWindowProcedure(window, WM_DESTROY, 0, 0);
  platform::ReportDialog(*record, platform::DialogChange::kDestroyed);
  record->queue->ForgetWindow(window);
  TheOne<WindowTable>().Remove(window);
  return TRUE;
}

BOOL ShowWindow(HWND window, int command) {
  std::shared_ptr<WindowRecord> record = TheOne<WindowTable>().Find(window);
  if (!record) {
    return FALSE;
  }
  const bool show = command != SW_HIDE;
  bool wasVisible;
  {
    std::lock_guard<std::mutex> hold(record->lock);
    wasVisible = record->visible;
    record->visible = show;
  }
  if (show != wasVisible) {
    platform::ReportDialog(*record,
                           show ? platform::DialogChange::kShown : platform::DialogChange::kHidden);
  }
  return wasVisible ? TRUE : FALSE;
}

BOOL SetForegroundWindow(HWND window) {
  return TheOne<WindowTable>().Find(window) ? TRUE : FALSE;
}

BOOL IsWindow(HWND window) {
  return window != nullptr && TheOne<WindowTable>().Find(window) ? TRUE : FALSE;
}

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
  std::shared_ptr<WindowRecord> record = TheOne<WindowTable>().Find(window);
  if (!record) {
    return 0;
  }
  std::lock_guard<std::mutex> hold(record->lock);
  const unsigned char* bytes = platform::ExtraBytesAt(*record, index);
  LONG_PTR value = 0;
  if (bytes != nullptr) {
    std::memcpy(&value, bytes, sizeof value);
  }
  return value;
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  std::shared_ptr<WindowRecord> record = TheOne<WindowTable>().Find(window);
  if (!record) {
    return 0;
  }
  std::lock_guard<std::mutex> hold(record->lock);
  unsigned char* bytes = platform::ExtraBytesAt(*record, index);
  LONG_PTR previous = 0;
  if (bytes != nullptr) {
    std::memcpy(&previous, bytes, sizeof previous);
    std::memcpy(bytes, &value, sizeof value);
  }
  return previous;
}

BOOL GetCursorPos(LPPOINT point) {
  if (point == nullptr) {
    return FALSE;
  }
  std::lock_guard<std::mutex> hold(platform::cursorLock);
  *point = platform::cursorPosition;
  return TRUE;
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  if (!IS_INTRESOURCE(name)) {
    platform::SetLastErrorCode(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const auto number = static_cast<WORD>(reinterpret_cast<UINT_PTR>(name));
  const bool ours =
      instance != nullptr && number >= resources::kFirstIcon && number <= resources::kLastIcon;
  const bool standard = instance == nullptr && number == platform::kStandardIcon;
  if (!ours && !standard) {
    platform::SetLastErrorCode(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return platform::NumberedHandle(number);
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  if (instance != nullptr || name != IDC_ARROW) {
    platform::SetLastErrorCode(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return platform::NumberedHandle(platform::kStandardIcon);
}

HGDIOBJ GetStockObject(int object) {
  // Nothing is drawn; the handle only has to be valid.
  return object == WHITE_BRUSH ? reinterpret_cast<HGDIOBJ>(platform::kBrushHandle) : nullptr;
}
