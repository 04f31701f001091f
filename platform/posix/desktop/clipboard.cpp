// Global memory and the clipboard. The clipboard keeps the text it is given; the front end is
// told, and when a terminal is attached the text also goes to the terminal's own clipboard as an
// OSC 52 sequence.
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/desktop/window_table.h"

namespace platform {
namespace {

// Memory blocks by handle: a handle freed or never given out is refused, never dereferenced.
class GlobalMemoryTable {
 public:
  HGLOBAL Allocate(std::size_t bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    HGLOBAL handle = reinterpret_cast<HGLOBAL>(nextHandle_);
    nextHandle_ += 4;
    // Zero-filled whatever the flags say: nothing old can leak through the clipboard.
    blocks_[handle].bytes.assign(bytes, '\0');
    return handle;
  }

  LPVOID Lock(HGLOBAL handle) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = blocks_.find(handle);
    if (found == blocks_.end()) {
      SetLastErrorCode(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    ++found->second.locks;
    // Never null for a valid handle, even of zero bytes.
    found->second.bytes.reserve(1);
    return found->second.bytes.data();
  }

  bool Unlock(HGLOBAL handle) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = blocks_.find(handle);
    if (found == blocks_.end() || found->second.locks == 0) {
      return false;
    }
    return --found->second.locks > 0;
  }

  bool Free(HGLOBAL handle) {
    std::lock_guard<std::mutex> hold(lock_);
    return blocks_.erase(handle) == 1;
  }

  /// The zero-terminated text in the block, or all of it when it holds no zero; none for a handle
  /// that is not valid.
  std::optional<std::string> Text(HGLOBAL handle) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = blocks_.find(handle);
    if (found == blocks_.end()) {
      return std::nullopt;
    }
    const std::vector<char>& bytes = found->second.bytes;
    return std::string(bytes.data(), strnlen(bytes.data(), bytes.size()));
  }

 private:
  struct Block {
    std::vector<char> bytes;
    unsigned locks = 0;
  };
  mutable std::mutex lock_;
  std::map<HGLOBAL, Block> blocks_;
  std::uintptr_t nextHandle_ = 0x30000;
};

std::string Base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t left = bytes.size() - i;
    std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (left > 1) {
      group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    }
    if (left > 2) {
      group |= static_cast<unsigned char>(bytes[i + 2]);
    }
    out += kDigits[(group >> 18) & 63];
    out += kDigits[(group >> 12) & 63];
    out += left > 1 ? kDigits[(group >> 6) & 63] : '=';
    out += left > 2 ? kDigits[group & 63] : '=';
  }
  return out;
}

// The clipboard: open for one thread at a time, holding at most one CF_TEXT block.
class Clipboard {
 public:
  bool Open() {
    std::lock_guard<std::mutex> hold(lock_);
    if (open_ && opener_ != std::this_thread::get_id()) {
      return false;
    }
    open_ = true;
    opener_ = std::this_thread::get_id();
    return true;
  }

  bool Close() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!OpenHere()) {
      return false;
    }
    open_ = false;
    return true;
  }

  bool Empty() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!OpenHere()) {
      return false;
    }
    Release();
    return true;
  }

  bool SetText(HGLOBAL memory) {
    std::string text;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!OpenHere()) {
        return false;
      }
      const std::optional<std::string> held = TheOne<GlobalMemoryTable>().Text(memory);
      if (!held) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
        return false;
      }
      if (memory != text_) {
        Release();
      }
      text_ = memory;
      text = *held;
    }
    Announce(text);
    return true;
  }

 private:
  // Whether the calling thread has the clipboard open; when not, the last error says so.
  bool OpenHere() const {
    if (open_ && opener_ == std::this_thread::get_id()) {
      return true;
    }
    SetLastErrorCode(ERROR_CLIPBOARD_NOT_OPEN);
    return false;
  }

  void Release() {
    if (text_ != nullptr) {
      TheOne<GlobalMemoryTable>().Free(text_);
      text_ = nullptr;
    }
  }

  static void Announce(const std::string& text) {
    FrontEndInUse frontEnd;
    if (!frontEnd) {
      return;
    }
    frontEnd->OnClipboardText(text);
    if (frontEnd->TerminalAttached()) {
      // OSC 52: set the terminal's clipboard ("c") to the base64 of the text, ended by BEL.
      frontEnd->WriteToTerminal("\x1b]52;c;" + Base64(text) + "\x07");
    }
  }

  std::mutex lock_;
  bool open_ = false;
  std::thread::id opener_;
  HGLOBAL text_ = nullptr;
};

}  // namespace
}  // namespace platform

using platform::Clipboard;
using platform::GlobalMemoryTable;
using platform::TheOne;

BOOL OpenClipboard(HWND /*owner*/) {
  return TheOne<Clipboard>().Open() ? TRUE : FALSE;
}

BOOL EmptyClipboard() {
  return TheOne<Clipboard>().Empty() ? TRUE : FALSE;
}

HANDLE SetClipboardData(UINT format, HANDLE memory) {
  if (format != CF_TEXT) {
    platform::SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return TheOne<Clipboard>().SetText(memory) ? memory : nullptr;
}

BOOL CloseClipboard() {
  return TheOne<Clipboard>().Close() ? TRUE : FALSE;
}

HGLOBAL GlobalAlloc(UINT /*flags*/, SIZE_T bytes) {
  return TheOne<GlobalMemoryTable>().Allocate(bytes);
}

LPVOID GlobalLock(HGLOBAL memory) {
  return TheOne<GlobalMemoryTable>().Lock(memory);
}

BOOL GlobalUnlock(HGLOBAL memory) {
  return TheOne<GlobalMemoryTable>().Unlock(memory) ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
  return TheOne<GlobalMemoryTable>().Free(memory) ? nullptr : memory;
}
