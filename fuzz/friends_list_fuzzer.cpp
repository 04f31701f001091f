// The friends-data page as the network delivers it: every name read from it is a safe file and
// host name, and has its own feed file path inside the temporary directory.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "feed/merged_feed.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_folder.h"
#include "update/friends_list.h"

namespace {

// The file the page lands in, as the download leaves it.
const std::string& ListPath() {
  static const std::string path = ScratchFolder("zv-fuzz-friends") + "/friends.list";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(ListPath().c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
  FUZZ_CHECK(std::fclose(file) == 0);
  const std::string tempDir = ListPath().substr(0, ListPath().rfind('/'));
  for (const std::string& name : ReadFriendNames(ListPath())) {
    FUZZ_CHECK(!name.empty() && name.size() <= 255);
    FUZZ_CHECK(name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                      "0123456789_-") == std::string::npos);
    const auto path = FriendFeedPath(tempDir, name);
    FUZZ_CHECK(!path || path->rfind(tempDir + "/", 0) == 0);
  }
  return 0;
}
