// Merges the feed files of the named friends in a directory into "all.xml" there, as an update
// cycle does after its downloads. Used by the demo and handy for trying feed files by hand.
#include <cstdio>
#include <string>
#include <vector>

#include "feed/merged_feed.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DIRECTORY USER [FRIEND...]\n", argv[0]);
    return 2;
  }
  const std::string directory = argv[1];
  const std::vector<std::string> friends(argv + 3, argv + argc);
  if (!MergeFriendFeeds(directory, friends, argv[2])) {
    std::fprintf(stderr, "could not write %s\n", MergedFilePath(directory).c_str());
    return 1;
  }
  std::printf("%s\n", MergedFilePath(directory).c_str());
  return 0;
}
