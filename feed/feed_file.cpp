#include "feed/feed_file.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "feed/nesting_check.h"
#include "feed/xml_text.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"

namespace {

// Reads the whole file from its current position; false when it is larger than `capacity` or a
// read fails.
bool ReadAll(std::FILE* file, std::size_t capacity, std::string& bytes) {
  char chunk[64 * 1024];
  std::size_t count;
  while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    if (bytes.size() + count > capacity) {
      return false;
    }
    bytes.append(chunk, count);
  }
  return std::ferror(file) == 0;
}

// Turns the bytes of a feed file into the text TinyXML is to parse as UTF-8: what LoadFile would
// parse (the bytes before the first NUL, CR LF and lone CR turned into LF), converted from the
// legacy encoding the file declares where the system knows it, then made valid XML text.
void PrepareText(std::string& bytes) {
  bytes.resize(std::strlen(bytes.c_str()));
  const std::string encoding = DeclaredEncoding(bytes);
  std::string converted;
  if (IsLegacyEncoding(encoding) && platform::ConvertToUtf8(encoding, bytes, converted)) {
    bytes.swap(converted);
  }
  MakeXmlText(bytes);
  std::size_t kept = bytes.find('\r');
  if (kept != std::string::npos) {
    for (std::size_t i = kept; i < bytes.size(); ++i) {
      const bool cr = bytes[i] == '\r';
      bytes[kept++] = cr ? '\n' : bytes[i];
      i += cr && i + 1 < bytes.size() && bytes[i + 1] == '\n';
    }
    bytes.resize(kept);
  }
}

// Writes `document` into the new file `path`; true only when every byte reached the file.
bool WriteNewFile(const TiXmlDocument& document, const std::string& path) {
  std::FILE* file = platform::CreateNewTextFile(path);
  if (file == nullptr) {
    return false;
  }
  // SaveFile checks for errors before its buffer is flushed, so the flush and close are checked
  // here: a full disk must not pass for a complete file.
  bool written = document.SaveFile(file);
  written = std::fflush(file) == 0 && written;
  return std::fclose(file) == 0 && written;
}

}  // namespace

bool LoadFeedFile(TiXmlDocument& document, const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) {
    return false;
  }
  std::string text;
  if (!ReadAll(file.get(), kMaxFeedFileBytes, text)) {
    return false;
  }
  file.reset();
  PrepareText(text);
  if (MayNestDeeperThan(text, kMaxFeedNesting, TIXML_ENCODING_UTF8)) {
    return false;
  }
  document.Clear();
  document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
  return !document.Error();
}

bool SaveFeedFile(const TiXmlDocument& document, const std::string& path) {
  // Writers take turns: two update cycles may overlap at their ends, and must not share the
  // temporary file.
  static std::mutex writing;
  std::lock_guard<std::mutex> lock(writing);
  const std::string partial = path + ".part";
  // A leftover from an interrupted run is ours to remove; anything that reappears in its place
  // makes the creation fail rather than be written through.
  platform::RemoveFile(partial);
  if (WriteNewFile(document, partial) && platform::ReplaceFile(partial, path)) {
    return true;
  }
  platform::RemoveFile(partial);
  return false;
}
