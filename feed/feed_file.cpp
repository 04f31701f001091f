#include "feed/feed_file.h"

#include <tinyxml.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

#include "feed/nesting_check.h"
#include "platform/file_system.h"

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

// Writes `document` into the new file `path`; true only when every byte reached the file.
bool WriteNewFile(const TiXmlDocument& document, const std::string& path) {
  std::FILE* file = platform::CreateNewFile(path);
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
  std::string bytes;
  if (!ReadAll(file.get(), kMaxFeedFileBytes, bytes) ||
      MayNestDeeperThan(std::move(bytes), kMaxFeedNesting)) {
    return false;
  }
  // TinyXML reads the file afresh; nothing but this program writes the feed files, and it is done
  // writing them before any merge starts.
  std::rewind(file.get());
  return document.LoadFile(file.get());
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
