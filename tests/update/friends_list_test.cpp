#include "update/friends_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/scratch_directory.h"

namespace {

using Names = std::vector<std::string>;

Names NamesOf(const std::string& text) {
  ScratchDirectory dir;
  dir.Write("friends.list", text);
  return ReadFriendNames(dir.file("friends.list"));
}

TEST(FriendsListTest, KeepsTheNamesOfFriendLinesInOrder) {
  EXPECT_EQ(NamesOf("> alice\n< bob\n>carol\n> alice\n"), (Names{"alice", "carol", "alice"}));
  EXPECT_EQ(NamesOf("# comment\n> dave x y\n>\n \n>  \t eve\r\n> frank"),
            (Names{"dave", "eve", "frank"}));
  EXPECT_EQ(NamesOf(""), Names{});
  EXPECT_EQ(NamesOf("<html><body>502 Bad Gateway</body></html>\n"), Names{});
  EXPECT_EQ(ReadFriendNames("/nonexistent/friends.list"), Names{});
}

// Lines are read 255 characters at a time, and each piece is a line of its own.
TEST(FriendsListTest, LongLinesAreReadInPieces) {
  const std::string tail = "> tail";
  const std::string line = "> " + std::string(253, 'a') + tail + "\n";
  EXPECT_EQ(NamesOf(line), (Names{std::string(253, 'a'), "tail"}));
}

// Names come from the network and become file names and host names.
TEST(FriendsListTest, NamesOtherThanLettersDigitsUnderscoreAndDashAreSkipped) {
  EXPECT_EQ(NamesOf("> ../../.profile\n> evil.example/x?\n> a%2e\n> night_owl\n> _carol\n"
                    "> -dash\n> Bob42\n> caf\xc3\xa9\n"),
            (Names{"night_owl", "_carol", "-dash", "Bob42"}));
}

}  // namespace
