// The local server's request: the input, cut by "|+|" into the pieces its reads receive, is the
// request a client sends on one connection. Each input goes to a connection worker of a server
// with the served names the program sets ({"all.xml"}) and to one of a server that serves its
// whole root, as the serve-directory tool does, through an in-memory stream.
//
// The root holds all.xml, default.htm and notes.txt, and links to a file and to a folder outside
// it; the outside folder holds a secret. Properties: every answer is one the server is made to
// give (a fixed refusal, the 404 line, or the 200 head with the exact bytes of one root file, a
// served one where names are set); no byte of a file outside the root is read (the kernel's
// inotify events tell) or sent; with served names nothing but all.xml is even opened.
#include <sys/inotify.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_folder.h"
#include "net/http_server/local_web_server.h"
#include "net/io/memory_stream.h"

namespace {

namespace fs = std::filesystem;

struct RootFile {
  const char* name;
  const char* type;  // as the server names it
  std::string bytes;
};

const std::string kSecret = "secret bytes that never leave the outside folder\n";

// The answers that carry no file.
const char* const kFixedAnswers[] = {
    "",
    "Command Not Reconized\r\n",
    "HTTP/1.0 404 Requested file not found\r\n",
    "HTTP/1.0 404 Requested file not found\r\n\r\n",
    "HTTP/1.0 400 Bad Request\r\n\r\n",
    "HTTP/1.0 501 Not Implemented\r\n\r\n",
    "HTTP/1.0 501 Not Implemented\r\n\r\nServer: The Ultimate Toolbox WWW Server\r\n"
    "MIME-verion: 1.0\r\n",
    "HTTP/1.0 405 Method Not Allowed\r\nContent-Type: text/html\r\n\r\n"
    "<html><body>DELETE Method Not Allowed</body></html>",
};

// The folders and servers, made once; the folders go when the run ends.
struct World {
  std::string base;
  std::vector<RootFile> files;
  LocalWebServer named;  // serves all.xml only
  LocalWebServer whole;  // serves every file of the root
  int watch = -1;        // inotify of the root and the outside folder
  int rootWatch = -1;
  int outsideWatch = -1;

  World() {
    base = ScratchFolder("zv-fuzz-server");
    const std::string root = base + "/root";
    const std::string outside = base + "/outside";
    fs::create_directory(root);
    fs::create_directory(outside);
    std::string feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>";
    feed += "<title>Friends</title><item><title>Stars over the river</title></item>";
    feed += "</channel></rss>\n";
    files = {{"all.xml", "application/octet-stream", feed},
             {"default.htm", "text/html", "<html><body>Zarnik</body></html>\n"},
             {"notes.txt", "text/text", std::string(1300, 'n')}};
    for (const RootFile& file : files) {
      std::ofstream(root + "/" + file.name, std::ios::binary) << file.bytes;
    }
    std::ofstream(outside + "/secret.txt", std::ios::binary) << kSecret;
    fs::create_symlink(outside + "/secret.txt", root + "/leak.txt");
    fs::create_symlink(outside, root + "/away");
    watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    FUZZ_CHECK(watch >= 0);
    rootWatch = inotify_add_watch(watch, root.c_str(), IN_OPEN);
    outsideWatch = inotify_add_watch(watch, outside.c_str(), IN_OPEN | IN_ACCESS);
    FUZZ_CHECK(rootWatch >= 0 && outsideWatch >= 0);
    FUZZ_CHECK(named.setRootPath(root.c_str()) == NetResult::Success);
    FUZZ_CHECK(whole.setRootPath(root.c_str()) == NetResult::Success);
    named.setServedNames({"all.xml"});
  }
  ~World() { close(watch); }

  // What the worker opened and read since the last call: the events of the outside folder, and
  // the names of the root's entries opened.
  struct Opened {
    std::uint32_t outside = 0;
    std::vector<std::string> rootNames;
  };
  Opened opened() const {
    Opened seen;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t count = read(watch, buffer, sizeof buffer);
      if (count <= 0) {
        FUZZ_CHECK(count == 0 || errno == EAGAIN);
        return seen;
      }
      for (char* at = buffer; at < buffer + count;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        if (event->wd == outsideWatch) {
          seen.outside |= event->mask;
        } else if (event->wd == rootWatch) {
          seen.rootNames.emplace_back(event->len > 0 ? event->name : "");
        }
        at += sizeof(inotify_event) + event->len;
      }
    }
  }
};

World& TheWorld() {
  static World world;
  return world;
}

// A worker of `owner` that is not handed a connection by the server, so it is told its server
// here.
class FuzzWorker : public WebRequestWorker {
 public:
  explicit FuzzWorker(LocalWebServer& owner) : WebRequestWorker(owner) { server = &owner; }
};

std::vector<std::string> Pieces(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find("|+|", start)) != std::string::npos; start = at + 3) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

// Whether `answer` is the 200 answer for one of the root's files (all.xml alone when
// `onlyFeed`): the status line, the six header lines, the blank line, then the file's bytes
// whole or, for HEAD, none.
bool IsFileAnswer(const std::string& answer, const std::vector<RootFile>& files, bool onlyFeed) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at; lines.size() < 8 && (at = answer.find("\r\n", start)) != std::string::npos;
       start = at + 2) {
    lines.push_back(answer.substr(start, at - start));
  }
  if (lines.size() != 8 || lines[0] != "HTTP/1.0 200 OK" || !StartsWith(lines[1], "Date:") ||
      lines[1].size() != 5 + 29 || lines[2] != "Server: The Ultimate Toolbox WWW Server" ||
      lines[3] != "MIME-verion: 1.0" || !StartsWith(lines[5], "Last-modified: ") ||
      !lines[7].empty()) {
    return false;
  }
  const std::string body = answer.substr(start);
  for (const RootFile& file : files) {
    if ((!onlyFeed || file.name == std::string("all.xml")) &&
        lines[4] == std::string("Content-type: ") + file.type &&
        lines[6] == "Content-length: " + std::to_string(file.bytes.size()) &&
        (body.empty() || body == file.bytes)) {
      return true;
    }
  }
  return false;
}

// The method token of `request` where it is plain: letters after any leading spaces, followed
// by a space, early in the line; "" otherwise.
std::string PlainMethodToken(const std::string& request) {
  const std::size_t first = request.find_first_not_of(' ');
  const std::size_t end = request.find(' ', first);
  if (first == std::string::npos || end == std::string::npos || end > 400) {
    return "";
  }
  std::string token = request.substr(first, end - first);
  for (char& letter : token) {
    if (!std::isalpha(static_cast<unsigned char>(letter))) {
      return "";
    }
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  }
  return token;
}

void Serve(LocalWebServer& server, const std::string& request, bool named) {
  World& world = TheWorld();
  const std::vector<std::string> pieces = Pieces(request);
  std::string whole;
  for (const std::string& piece : pieces) {
    whole += piece;
  }
  MemoryStream stream(pieces);
  {
    FuzzWorker worker(server);
    worker.useStream(&stream);
    worker.serveConnection();
  }
  const std::string& answer = stream.written();
  const World::Opened opened = world.opened();
  FUZZ_CHECK((opened.outside & IN_ACCESS) == 0);
  FUZZ_CHECK(!named || opened.outside == 0);
  for (const std::string& name : opened.rootNames) {
    FUZZ_CHECK(!named || name == "all.xml");
  }
  FUZZ_CHECK(answer.find(kSecret.substr(0, 12)) == std::string::npos);
  bool known = false;
  for (const char* fixed : kFixedAnswers) {
    known = known || answer == fixed;
  }
  if (!known) {
    FUZZ_CHECK(IsFileAnswer(answer, world.files, named));
    // GET sends the body whole; HEAD sends none.
    const std::string token = PlainMethodToken(whole);
    const bool hasBody = answer.size() > answer.find("\r\n\r\n") + 4;
    FUZZ_CHECK(token.find("GET") == std::string::npos || hasBody);
    FUZZ_CHECK(token.find("GET") != std::string::npos || token.find("HEAD") == std::string::npos ||
               !hasBody);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  World& world = TheWorld();
  const std::string request(reinterpret_cast<const char*>(data), size);
  Serve(world.named, request, true);
  Serve(world.whole, request, false);
  return 0;
}
