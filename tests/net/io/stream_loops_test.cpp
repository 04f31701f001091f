#include "net/io/stream_loops.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/io/memory_stream.h"

namespace {

struct LineCase {
  const char* name;
  std::vector<std::string> pieces;  // as they arrive; the peer closes after the last
  LineEnd end;
  int size;
  std::vector<std::string> lines;  // what successive reads give
  std::string left;                // what stays unread
};

TEST(ReadLine, EndsWhereTheRuleSaysAndLeavesTheRestQueued) {
  const LineCase cases[] = {
      {"line feed", {"abc\ndef\nx"}, LineEnd::LineFeed, 64, {"abc\n", "def\n"}, "x"},
      {"a lone line feed is no CR LF",
       {"ab\ncd\r\nx"},
       LineEnd::CarriageReturnLineFeed,
       64,
       {"ab\ncd\r\n"},
       "x"},
      {"a line in two pieces",
       {"ab", "c\r\n", "d"},
       LineEnd::CarriageReturnLineFeed,
       64,
       {"abc\r\n"},
       "d"},
      {"a CR LF split between pieces is not seen",
       {"ab\r", "\ncd\r\nx"},
       LineEnd::CarriageReturnLineFeed,
       64,
       {"ab\r\ncd\r\n"},
       "x"},
      {"longer than the buffer", {"abcdefg\nh"}, LineEnd::LineFeed, 5, {"abcd", "efg\n"}, "h"},
      {"the peer closes mid-line", {"abc"}, LineEnd::LineFeed, 64, {"abc", ""}, ""},
      {"room for the NUL alone", {"abc\n"}, LineEnd::LineFeed, 1, {""}, "abc\n"},
  };
  for (const LineCase& c : cases) {
    MemoryStream stream(c.pieces);
    std::vector<char> buffer(static_cast<std::size_t>(c.size));
    for (const std::string& line : c.lines) {
      EXPECT_EQ(ReadLine(stream, buffer.data(), c.size, 5, c.end, nullptr),
                static_cast<int>(line.size()))
          << c.name;
      EXPECT_EQ(buffer.data(), line) << c.name;
    }
    EXPECT_EQ(stream.unread(), c.left) << c.name;
  }
}

TEST(ReadLine, StopsWhenAskedOrWhenTheWaitRunsOut) {
  char buffer[64];
  int asked = 0;
  MemoryStream stopped({"ab", "cd\n"});
  EXPECT_EQ(ReadLine(stopped, buffer, 64, 5, LineEnd::LineFeed, [&] { return ++asked > 1; }), 2);
  EXPECT_STREQ(buffer, "ab") << "the stop check ends the read between two steps";
  EXPECT_EQ(stopped.unread(), "cd\n");

  MemoryStream silent({"ab"}, false);
  EXPECT_EQ(ReadLine(silent, buffer, 64, 1, LineEnd::LineFeed, nullptr), 2);
  EXPECT_STREQ(buffer, "ab") << "what came before the wait ran out";
}

// A sink that keeps what it takes, up to `room` bytes.
class StringSink : public ByteSink {
 public:
  explicit StringSink(long limit) : room(limit) {}
  long capacity() const override { return room - static_cast<long>(bytes.size()); }
  int take(const char* data, int length) override {
    bytes.append(data, static_cast<std::size_t>(length));
    return length;
  }
  std::string bytes;
  long room;
};

TEST(ReceiveToSink, EndsAtTheLimitTheSinksRoomTheEndOrTheProgressCheck) {
  const std::string body(700, 'b');
  struct Case {
    const char* name;
    long maxBytes;
    long room;
    bool closeAtEnd;
    bool keepGoing;
    NetResult result;
    std::vector<long> progress;
  } cases[] = {
      {"to the peer's close", 0, 1 << 20, true, true, NetResult::Success, {256, 512, 700}},
      {"a body limit", 300, 1 << 20, false, true, NetResult::Success, {256, 300}},
      {"the sink's room", 0, 260, false, true, NetResult::Success, {256, 260}},
      {"a silent peer", 0, 1 << 20, false, true, NetResult::ReadTimedOut, {256, 512, 700}},
      {"a false progress check", 0, 1 << 20, true, false, NetResult::Cancelled, {256}},
  };
  for (const Case& c : cases) {
    MemoryStream stream({body}, c.closeAtEnd);
    StringSink sink(c.room);
    std::vector<long> progress;
    long received = 0;
    EXPECT_EQ(ReceiveToSink(stream, sink, 1, c.maxBytes, received,
                            [&](long bytes) {
                              progress.push_back(bytes);
                              return c.keepGoing;
                            }),
              c.result)
        << c.name;
    EXPECT_EQ(progress, c.progress) << c.name;
    EXPECT_EQ(sink.bytes.size() + stream.unread().size(), body.size()) << c.name;
  }
}

TEST(WriteAll, CompletesShortWritesAndStopsAtAFailure) {
  MemoryStream stream({});
  const auto write = [&](const char* data, int length) { return stream.write(data, length); };
  stream.setWriteLimit(3);
  EXPECT_EQ(WriteAll(write, "hello world", 11, nullptr), 11);
  EXPECT_EQ(stream.written(), "hello world");
  EXPECT_EQ(WriteAll(write, "abcdef", 6, [] { return true; }), 3) << "stopped after one piece";
  stream.setWriteLimit(-1);
  EXPECT_EQ(WriteAll(write, "lost", 4, nullptr), 0);
  EXPECT_EQ(stream.written(), "hello worldabc");
}

}  // namespace
