#include "net/http_client/string_list.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(StringListTest, KeepsCopiesInOrder) {
  StringList list;
  std::string text = "first";
  EXPECT_EQ(list.append(text.c_str()), 1);
  text[0] = 'X';
  EXPECT_EQ(list.append("second"), 1);
  EXPECT_EQ(list.append(nullptr), 0);
  ASSERT_EQ(list.count(), 2);
  EXPECT_STREQ(list.at(0), "first") << "the list keeps its own copy";
  EXPECT_STREQ(list.at(1), "second");
  EXPECT_EQ(list.at(2), nullptr);
  EXPECT_EQ(list.at(-1), nullptr);

  EXPECT_EQ(list.removeAt(2), 0);
  EXPECT_EQ(list.removeAt(-1), 0);
  EXPECT_EQ(list.removeAt(0), 1);
  ASSERT_EQ(list.count(), 1);
  EXPECT_STREQ(list.at(0), "second");
  EXPECT_EQ(list.clear(), 1);
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(list.at(0), nullptr);
}

TEST(StringListTest, TextsStayPutWhileOthersComeAndGo) {
  StringList list;
  list.append("a");
  list.append("short");
  list.append("c");
  const char* kept = list.at(1);
  for (int i = 0; i < 1000; ++i) {
    list.append(std::to_string(i).c_str());
  }
  list.removeAt(0);
  list.removeAt(1);
  // Under ASan a moved or freed text fails here even when its bytes happen to survive.
  EXPECT_STREQ(kept, "short");
  EXPECT_EQ(list.at(0), kept);

  StringList moved = std::move(list);
  EXPECT_STREQ(kept, "short");
  EXPECT_EQ(moved.at(0), kept);
  EXPECT_EQ(moved.count(), 1000 + 1);
}

}  // namespace
