#include "net/http_server/local_web_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "net/io/memory_stream.h"
#include "platform/file_system.h"
#include "tests/net/http_server/server_test_support.h"

namespace server_test {
namespace {

class LocalWebServerTest : public ServerTest {
 protected:
  void SetUp() override {
    files.Write("default.htm", "<html>home</html>");
    files.Write("all.xml", "<rss version=\"2.0\"><channel/></rss>");
    std::filesystem::create_directory(files.file("sub"));
    files.Write("sub/page.html", "<p>page</p>");
    Start();
  }

  std::string Get(const std::string& requestLine) {
    return Ask(server.listeningPort(), requestLine);
  }

  // The status line, the six header lines in their order and the blank line of a served file.
  void ExpectServed(const std::string& answer, const std::string& type, const std::string& name) {
    const std::string body = files.Read(name);
    const Answer parts = Split(answer);
    const std::vector<std::string> lines = Lines(parts.head);
    ASSERT_EQ(lines.size(), 8u) << parts.head;
    EXPECT_EQ(lines[0], "HTTP/1.0 200 OK");
    EXPECT_EQ(Masked(lines[1]), "Date:Www, ## Mmm #### ##:##:## GMT") << lines[1];
    EXPECT_EQ(lines[2], "Server: The Ultimate Toolbox WWW Server");
    EXPECT_EQ(lines[3], "MIME-verion: 1.0");
    EXPECT_EQ(lines[4], "Content-type: " + type);
    EXPECT_EQ(lines[5], "Last-modified: " + ModifiedText(name));
    EXPECT_EQ(lines[6], "Content-length: " + std::to_string(body.size()));
    EXPECT_EQ(lines[7], "");
    EXPECT_EQ(parts.body, body);
  }

  // The Last-modified value of a served file, formatted from the file's own time.
  std::string ModifiedText(const std::string& name) {
    std::string real;
    EXPECT_TRUE(platform::RealDirectoryPath(files.path().c_str(), real));
    const HANDLE file = platform::OpenFileInside(files.file(name).c_str(), real);
    std::time_t written = 0;
    EXPECT_TRUE(platform::GetLastWriteTime(file, written));
    CloseHandle(file);
    WebRequestWorker formatter(server);
    return formatter.lastModifiedText(written);
  }

  // The lines of a head, their CR LF removed.
  static std::vector<std::string> Lines(const std::string& head) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = head.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      lines.push_back(head.substr(start, end - start));
    }
    return lines;
  }

  // Digits as "#", weekday and month names as "Www" and "Mmm": the shape of a date line.
  static std::string Masked(std::string text) {
    for (const char* name : {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"}) {
      for (std::size_t at; (at = text.find(name)) != std::string::npos;) {
        text.replace(at, 3, "Www");
      }
    }
    for (const char* name :
         {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"}) {
      for (std::size_t at; (at = text.find(name)) != std::string::npos;) {
        text.replace(at, 3, "Mmm");
      }
    }
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }, '#');
    return text;
  }
};

TEST_F(LocalWebServerTest, GetServesTheFileWithItsHeaderLines) {
  ExpectServed(Get("GET /hello.txt HTTP/1.0\r\nHost: localhost\r\n\r\n"), "text/text", "hello.txt");
  ASSERT_TRUE(server.waitTexts(1));
  const std::string line = server.texts()[0];
  const std::string prefix = "# Time=##:##  IP=###.#.#.#       Duration=####### GET=";
  EXPECT_EQ(line.rfind("1 ", 0), 0u) << "status 1: " << line;
  EXPECT_EQ(Masked(line.substr(0, prefix.size())), prefix) << line;
  EXPECT_EQ(line.substr(std::min(prefix.size(), line.size())),
            files.path() + platform::kDirectorySeparator + "hello.txt");
}

TEST_F(LocalWebServerTest, AllXmlIsServedAsOctetStream) {
  ExpectServed(Get("GET /all.xml HTTP/1.0\r\n\r\n"), "application/octet-stream", "all.xml");
}

TEST_F(LocalWebServerTest, AWorkerOnAMemoryStreamServesTheWholeFile) {
  // Mended: through a stream in place of the socket, a GET sent the head without the body, its
  // block size asked of a socket there was none of.
  struct StreamWorker : WebRequestWorker {
    explicit StreamWorker(LocalWebServer& owner) : WebRequestWorker(owner) { server = &owner; }
  };
  files.Write("pattern.bin", Pattern(1300));
  MemoryStream stream({"GET /pattern.bin HTTP/1.0\r\n\r\n"});
  StreamWorker worker(server);
  worker.useStream(&stream);
  worker.serveConnection();
  ExpectServed(stream.written(), "application/octet-stream", "pattern.bin");
}

TEST_F(LocalWebServerTest, HeadSendsTheHeaderLinesOnlyAndLogsSuccess) {
  const std::string answer = Get("HEAD /hello.txt HTTP/1.0\r\n\r\n");
  const Answer parts = Split(answer);
  EXPECT_EQ(parts.body, "");
  EXPECT_NE(parts.head.find("Content-length: 15\r\n"), std::string::npos) << answer;
  ASSERT_TRUE(server.waitTexts(1));
  EXPECT_EQ(server.texts()[0].rfind("1 Time=", 0), 0u) << server.texts()[0];
  EXPECT_NE(server.texts()[0].find(" HEAD="), std::string::npos) << server.texts()[0];
}

// Request lines that name an existing file in the ways clients write them.
struct ServedCase {
  const char* name;
  const char* request;
  const char* file;
};

class ServedRequestTest : public LocalWebServerTest,
                          public ::testing::WithParamInterface<ServedCase> {};

TEST_P(ServedRequestTest, ServesTheNamedFile) {
  const ServedCase& served = GetParam();
  const std::string body = files.Read(served.file);
  const Answer parts = Split(Get(served.request));
  EXPECT_EQ(parts.head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << parts.head;
  EXPECT_EQ(parts.body, body);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ServedRequestTest,
    ::testing::Values(
        ServedCase{"QueryIgnored", "GET /hello.txt?since=yesterday&x=1 HTTP/1.0\r\n\r\n",
                   "hello.txt"},
        ServedCase{"LowerCaseMethod", "get /hello.txt HTTP/1.0\r\n\r\n", "hello.txt"},
        ServedCase{"MethodContainingGet", "FORGET /hello.txt HTTP/1.0\r\n\r\n", "hello.txt"},
        ServedCase{"GetBeforePutInTheTable", "PUTGET /hello.txt\r\n\r\n", "hello.txt"},
        ServedCase{"NameWithoutSlashOrVersion", "GET hello.txt\r\n", "hello.txt"},
        ServedCase{"SlashServesDefaultHtm", "GET / HTTP/1.0\r\n\r\n", "default.htm"},
        ServedCase{"BackslashStart", "GET \\hello.txt HTTP/1.0\r\n\r\n", "hello.txt"},
        ServedCase{"Subdirectory", "GET /sub/page.html HTTP/1.0\r\n\r\n", "sub/page.html"},
        ServedCase{"RunsOfSpaces", "GET    /hello.txt    HTTP/1.0\r\n\r\n", "hello.txt"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Every answer other than a served file, byte for byte.
struct RefusedCase {
  const char* name;
  std::string request;
  std::string answer;
};

class RefusedRequestTest : public LocalWebServerTest,
                           public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedRequestTest, AnswersExactly) {
  EXPECT_EQ(Get(GetParam().request), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RefusedRequestTest,
    ::testing::Values(
        RefusedCase{"EmptyLine", "\r\n", kNotRecognized},
        RefusedCase{"UnknownMethod", "FETCH /hello.txt HTTP/1.0\r\n", kNotRecognized},
        RefusedCase{"MethodTokenTooLong", "GETGETGETGETGETGETGETGETGETGETG /hello.txt\r\n",
                    kNotRecognized},
        RefusedCase{"GetWithoutPath", "GET\r\n", kNotRecognized},
        RefusedCase{"PathTooLong", "GET /" + std::string(256, 'a') + "\r\n", kNotRecognized},
        RefusedCase{"ParentStep", "GET /../etc/passwd HTTP/1.0\r\n", kNotFound},
        RefusedCase{"TwoDotsInName", "GET /hello..txt HTTP/1.0\r\n", kNotFound},
        RefusedCase{"MissingFile", "GET /missing.txt HTTP/1.0\r\n", kNotFound},
        RefusedCase{"Directory", "GET /sub/ HTTP/1.0\r\n", kNotFound},
        RefusedCase{"DirectoryWithoutSlash", "GET /sub HTTP/1.0\r\n", kNotFound},
        RefusedCase{"Put", "PUT /new.txt HTTP/1.0\r\n",
                    "HTTP/1.0 501 Not Implemented\r\n\r\n"
                    "Server: The Ultimate Toolbox WWW Server\r\nMIME-verion: 1.0\r\n"},
        RefusedCase{"Place", "PLACE /new.txt HTTP/1.0\r\n", "HTTP/1.0 501 Not Implemented\r\n\r\n"},
        RefusedCase{"DeleteWithoutPath", "DELETE\r\n", "HTTP/1.0 400 Bad Request\r\n\r\n"},
        RefusedCase{"DeleteParentStep", "DELETE /../x HTTP/1.0\r\n",
                    "HTTP/1.0 404 Requested file not found\r\n\r\n"},
        RefusedCase{"Delete", "DELETE /hello.txt HTTP/1.0\r\nHost: x\r\n\r\n",
                    "HTTP/1.0 405 Method Not Allowed\r\nContent-Type: text/html\r\n\r\n"
                    "<html><body>DELETE Method Not Allowed</body></html>"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(LocalWebServerTest, RefusedRequestsAreNotLoggedButMissingFilesAre) {
  Get("GET /../x HTTP/1.0\r\n");
  Get("FETCH /x\r\n");
  Get("DELETE /hello.txt\r\n");
  Get("GET /missing.txt HTTP/1.0\r\n");
  ASSERT_TRUE(server.waitTexts(1));
  ASSERT_EQ(server.texts().size(), 1u);
  EXPECT_EQ(server.texts()[0].rfind("0 Time=", 0), 0u) << server.texts()[0];
  EXPECT_NE(
      server.texts()[0].find("GET=" + files.path() + platform::kDirectorySeparator + "missing.txt"),
      std::string::npos);
  EXPECT_EQ(files.Read("hello.txt"), "Hello, reader.\n") << "DELETE must delete nothing";
}

// Given served names, the server answers a request for anything else, or from a page whose host
// name was made to point here, as for a missing file, and the named file exactly as before.
TEST_F(LocalWebServerTest, ServedNamesAloneAndOnlyToRequestsAddressedToThisMachine) {
  files.Write("friends.list", "alice\n");
  files.Write("alice", "<rss>friends only</rss>");
  server.setServedNames({"all.xml"});
  const std::string port = std::to_string(server.listeningPort());
  const std::string head = "GET /all.xml HTTP/1.0\r\nHost: ";
  const std::pair<std::string, bool> cases[] = {
      {"GET /all.xml\r\n", true},
      {"GET /all.xml?since=1 HTTP/1.1\r\nAccept: */*\r\n\r\n", true},
      {head + "localhost:" + port + "\r\n\r\n", true},
      {head + " LocalHost \r\n\r\n", true},
      {head + "127.1.2.3:" + port + "\r\n\r\n", true},
      {head + "[::1]:" + port + "\r\n\r\n", true},
      {"GET /friends.list HTTP/1.0\r\n\r\n", false},
      {"HEAD /alice HTTP/1.0\r\nHost: localhost\r\n\r\n", false},
      {"GET / HTTP/1.0\r\n\r\n", false},
      {head + "rebound.example:" + port + "\r\nAccept: */*\r\n\r\n", false},
      {head + "localhost.rebound.example\r\n\r\n", false},
      {"GET /all.xml?" + std::string(600, 'a') + " HTTP/1.0\r\nHost: rebound.example\r\n\r\n",
       false},
  };
  for (const auto& [request, served] : cases) {
    SCOPED_TRACE(request.substr(0, 90));
    if (served) {
      ExpectServed(Get(request), "application/octet-stream", "all.xml");
    } else {
      EXPECT_EQ(Get(request), kNotFound);
    }
  }
}

TEST_F(LocalWebServerTest, PostGetsNoAnswerAndItsLinesGoToTheStatusHook) {
  RawClient client(server.listeningPort());
  client.send("POST /form HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc\r\n");
  bool closed = false;
  EXPECT_EQ(client.receiveAll(5000, &closed), "");
  EXPECT_TRUE(closed);
  ASSERT_TRUE(server.waitTexts(4));
  const std::vector<std::string> texts = server.texts();
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 3),
            (std::vector<std::string>{"Content-Length: 3", "", "abc"}))
      << "the posted lines, line ends removed";
  EXPECT_EQ(texts[3].rfind("1 Time=", 0), 0u) << texts[3];
  EXPECT_NE(texts[3].find(" POST="), std::string::npos) << texts[3];
}

TEST_F(LocalWebServerTest, ClientThatClosesWithoutARequestGetsNothing) {
  {
    RawClient client(server.listeningPort());
    ASSERT_TRUE(client.connected());
  }
  ASSERT_TRUE(WaitUntil([&] { return server.liveCount() == 0; }));
  EXPECT_EQ(Get("GET /hello.txt\r\n").rfind("HTTP/1.0 200 OK", 0), 0u);
  EXPECT_TRUE(server.waitTexts(1));
  EXPECT_EQ(server.texts().size(), 1u);
}

// Symbolic links: the shared temporary directory is writable by every local user.
TEST_F(LocalWebServerTest, ServesOnlyRegularFilesInsideTheRoot) {
  ScratchDirectory outside;
  outside.Write("secret.txt", "not for the web");
  std::error_code error;
  std::filesystem::create_symlink(outside.file("secret.txt"), files.file("leak.txt"), error);
  if (error) {
    GTEST_SKIP() << "no symbolic links here: " << error.message();
  }
  std::filesystem::create_directory_symlink(outside.path(), files.file("away"));
  std::filesystem::create_symlink(files.file("hello.txt"), files.file("alias.txt"));

  EXPECT_EQ(Get("GET /leak.txt HTTP/1.0\r\n"), kNotFound) << "link to a file outside";
  EXPECT_EQ(Get("GET /away/secret.txt HTTP/1.0\r\n"), kNotFound) << "link to a directory outside";
  EXPECT_EQ(Split(Get("GET /alias.txt HTTP/1.0\r\n")).body, "Hello, reader.\n")
      << "a link inside the root to a file inside it is served";
}

TEST_F(LocalWebServerTest, PartialSendsLoseNoBodyBytes) {
  // A worker whose sends take at most 100 bytes each: every byte must still arrive, in order.
  struct ShortSendWorker : WebRequestWorker {
    using WebRequestWorker::WebRequestWorker;
    int sysSend(SOCKET connection, const char* data, int length, int flags) override {
      return WebRequestWorker::sysSend(connection, data, std::min(length, 100), flags);
    }
  };
  struct ShortSendServer : RecordingServer {
    ~ShortSendServer() override { shutDown(); }
    ConnectionWorker* createWorker() override { return new ShortSendWorker(*this); }
  };
  const std::string bytes = Pattern(70000);
  files.Write("pattern.bin", bytes);
  ShortSendServer shortSends;
  shortSends.start(files.path());
  const Answer parts = Split(Ask(shortSends.listeningPort(), "GET /pattern.bin HTTP/1.0\r\n"));
  EXPECT_NE(parts.head.find("Content-length: 70000\r\n"), std::string::npos) << parts.head;
  EXPECT_TRUE(parts.body == bytes) << parts.body.size() << " body bytes";
  ASSERT_TRUE(shortSends.waitTexts(1));
  EXPECT_EQ(shortSends.texts()[0].rfind("1 Time=", 0), 0u) << shortSends.texts()[0];
}

// ---- the worker's own operations ------------------------------------------------------------

class WebRequestWorkerTest : public ::testing::Test {
 protected:
  LocalWebServer server;
  WebRequestWorker worker{server};
};

TEST_F(WebRequestWorkerTest, CommandFromTextMatchesNamesInsideTheTokenInTableOrder) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"get", WebRequestWorker::kGet},         {"Head", WebRequestWorker::kHead},
      {"POST", WebRequestWorker::kPost},       {"OUTPUT", WebRequestWorker::kPut},
      {"place", WebRequestWorker::kPlace},     {"DELETE", WebRequestWorker::kDelete},
      {"HEADGET", WebRequestWorker::kGet},     {"DELETEPOST", WebRequestWorker::kPost},
      {"OPTIONS", WebRequestWorker::kUnknown}, {"", WebRequestWorker::kUnknown}};
  for (const auto& [text, command] : cases) {
    std::vector<char> token(text.begin(), text.end());
    token.push_back('\0');
    EXPECT_EQ(worker.commandFromText(token.data()), command) << text;
  }
}

TEST_F(WebRequestWorkerTest, ContentTypeFollowsTheExtension) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"/t/a.htm", "text/html"},
      {"/t/a.HTML", "text/html"},
      {"/t/a.txt", "text/text"},
      {"/t/a.gif", "image/gif"},
      {"/t/a.jpg", "image/jpeg"},
      {"/t/a.jpeg", "image/jpeg"},
      {"/t/a.bmp", "image/xbitmap"},
      {"/t/a.zip", "application/octet-stream"},
      {"/t/a.exe", "application/octet-stream"},
      {"/t/a.doc", "application/msword"},
      {"/t/a.au", "audio/au"},
      {"/t/a.wav", "audio/wav"},
      {"/t/a.mpeg", "vidio/mpeg"},
      {"/t/a.mpg", "vidio/mpeg"},
      {"/t/a.avi", "vidio/avi"},
      {"/t/all.xml", "application/octet-stream"},
      {"/t/a.d/htm", "application/octet-stream"},
      // Without a dot after the first character, the text from the second character on counts.
      {"/htm", "text/html"},
      {".htm", "text/html"},
      {"", "application/octet-stream"},
  };
  for (const auto& [path, type] : cases) {
    EXPECT_STREQ(worker.contentTypeFor(path), type) << path;
  }
  const std::string longExtension = "/t/a." + std::string(5000, 'x');
  EXPECT_STREQ(worker.contentTypeFor(longExtension.c_str()), "application/octet-stream");
  const std::string html = "/t/" + std::string(300, 'x') + ".html";
  EXPECT_STREQ(worker.contentTypeFor(html.c_str()), "text/html");
}

TEST_F(WebRequestWorkerTest, ThursdayIsThuInDateButThrInLastModified) {
  // 1 January 1970 was a Thursday; 29 February 2024 13:05:09 UTC was one too.
  EXPECT_STREQ(worker.currentDateText(0), "Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_STREQ(worker.lastModifiedText(std::time_t{0}), "Thr, 1 Jan 1970 0:0:0 GMT");
  EXPECT_STREQ(worker.currentDateText(1709211909), "Thu, 29 Feb 2024 13:05:09 GMT");
  EXPECT_STREQ(worker.lastModifiedText(std::time_t{1709211909}), "Thr, 29 Feb 2024 13:5:9 GMT");
  EXPECT_STREQ(worker.currentDateText(1709298309), "Fri, 01 Mar 2024 13:05:09 GMT");
  EXPECT_STREQ(worker.lastModifiedText(std::time_t{1709298309}), "Fri, 1 Mar 2024 13:5:9 GMT");
  EXPECT_STREQ(worker.lastModifiedText(INVALID_HANDLE_VALUE), "") << "unreadable file time";
}

TEST_F(WebRequestWorkerTest, ResolvePathJoinsRootAndTokenWithinTheBuffer) {
  ScratchDirectory root;
  ASSERT_EQ(server.setRootPath(root.path().c_str()), NetResult::Success);
  const std::string prefix = root.path() + platform::kDirectorySeparator;
  char path[WebRequestWorker::kFilePathSize];
  EXPECT_EQ(worker.resolvePath(path, "/a/b.txt"), NetResult::Success);
  EXPECT_EQ(path, prefix + "a/b.txt");
  EXPECT_EQ(worker.resolvePath(path, "/"), NetResult::Success);
  EXPECT_EQ(path, prefix + "default.htm");
  EXPECT_EQ(worker.resolvePath(path, "b%20c"), NetResult::Success);
  EXPECT_EQ(path, prefix + "b%20c") << "no percent-decoding";
  EXPECT_EQ(worker.resolvePath(path, "/a/../b"), NetResult::Failed);
  EXPECT_EQ(worker.resolvePath(path, "/a..b"), NetResult::Failed);

  const std::size_t fits = WebRequestWorker::kFilePathSize - 1 - prefix.size();
  EXPECT_EQ(worker.resolvePath(path, ("/" + std::string(fits, 'f')).c_str()), NetResult::Success);
  EXPECT_EQ(std::string(path).size(),
            static_cast<std::size_t>(WebRequestWorker::kFilePathSize - 1));
  EXPECT_EQ(worker.resolvePath(path, ("/" + std::string(fits + 1, 'f')).c_str()), NetResult::Failed)
      << "a path that does not fit is refused, not cut to another name";
}

TEST(LocalWebServerRootTest, SetRootPathKeepsTheOldRootOnRefusal) {
  ScratchDirectory first;
  LocalWebServer server;
  WebRequestWorker worker(server);
  ASSERT_EQ(server.setRootPath(first.path().c_str()), NetResult::Success);
  EXPECT_EQ(server.setRootPath(nullptr), NetResult::NoRootPath);
  EXPECT_EQ(server.setRootPath(""), NetResult::NoRootPath);
  const std::string tooLong = "/" + std::string(LocalWebServer::kRootCapacity - 2, 'r');
  EXPECT_EQ(server.setRootPath(tooLong.c_str()), NetResult::BufferTooSmall);
  const std::string fits = "/" + std::string(LocalWebServer::kRootCapacity - 3, 'r');
  char root[LocalWebServer::kRootCapacity];
  std::shared_ptr<const std::string> real;
  ASSERT_GT(server.copyRootPath(root, sizeof root, real), 0);
  EXPECT_EQ(root, first.path() + platform::kDirectorySeparator);
  ASSERT_NE(real, nullptr);

  EXPECT_EQ(server.setRootPath(fits.c_str()), NetResult::Success);
  EXPECT_EQ(server.copyRootPath(root, sizeof root, real), LocalWebServer::kRootCapacity - 1);
  EXPECT_EQ(real, nullptr) << "a directory that does not exist resolves to nothing";
}

TEST(LocalWebServerRootTest, StartsWithTheCurrentDirectory) {
  LocalWebServer server;
  char root[LocalWebServer::kRootCapacity];
  std::shared_ptr<const std::string> real;
  const std::string current = std::filesystem::current_path().string();
  if (current.size() + 1 >= sizeof root) {
    GTEST_SKIP() << "the current directory is too long to serve";
  }
  ASSERT_GT(server.copyRootPath(root, sizeof root, real), 0);
  EXPECT_EQ(root, current == "/" ? current : current + platform::kDirectorySeparator);
}

}  // namespace
}  // namespace server_test
