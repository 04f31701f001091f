#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "net/http_server/listen_server.h"
#include "platform/win32.h"

/// The built-in HTTP/1.0 file server: it serves the regular files of one root directory (or only
/// those named by setServedNames) to clients on this machine. Each connection carries one request
/// and is closed after the answer; there is no keep-alive, no URL decoding and no directory
/// listing, and header lines are looked at only for the Host rule of setServedNames.
/// Only loopback clients (127.0.0.0/8) are admitted. A subclass that overrides a hook must call
/// stop, markShuttingDown and waitForConnections in its own destructor, as this class does.
class LocalWebServer : public ListenServer {
 public:
  /// A server whose root is the current directory.
  LocalWebServer();
  /// Stops accepting and waits until every connection has been served.
  ~LocalWebServer() override;

  ConnectionWorker* createWorker() override;
  void releaseWorker(ConnectionWorker* worker) override;

  /// Serves the directory `text` from now on; requests already running keep the root they read.
  /// NoRootPath for a null or empty text, BufferTooSmall when the directory with its separator
  /// does not fit kRootCapacity; both keep the old root.
  NetResult setRootPath(const char* text);

  /// Copies the root, ending with its separator, into `buffer` of `size` bytes and gives its real
  /// path (null when the directory does not resolve). Returns the root's length, or -1 when it
  /// does not fit.
  int copyRootPath(char* buffer, int size, std::shared_ptr<const std::string>& realRoot);

  /// From now on serves only the files of the root named in `names`, as a request gives them
  /// after its leading slash ("all.xml" for "/all.xml", with or without a query); any other path
  /// of a GET, HEAD or DELETE is answered as a missing file is. A GET or HEAD then also has its
  /// header lines read, and is answered as for a missing file when a Host header names anything
  /// but this machine's loopback ("localhost", 127.x.x.x or "[::1]", any port, the name in any
  /// case), when its request or header lines are cut or end before the blank line, or after 100
  /// header lines; a request without a Host header is served. Until this is called every file of
  /// the root is served and no header line is read.
  void setServedNames(std::vector<std::string> names);
  /// The names given to setServedNames; null when every file of the root is served.
  std::shared_ptr<const std::vector<std::string>> servedNames();

  /// The root path's capacity, its terminating NUL included.
  static constexpr int kRootCapacity = 260;

 private:
  /// Resolves the root's real path when it has none yet.
  void resolveRealRoot();

  // Guards rootPath, realRootPath and servedNameList: workers read them, each several times a
  // request, while they may change.
  std::shared_mutex rootLock;
  char rootPath[kRootCapacity] = {};
  std::shared_ptr<const std::string> realRootPath;
  std::shared_ptr<const std::vector<std::string>> servedNameList;
};

/// Answers the one request line of a connection to a LocalWebServer: GET and HEAD serve a file
/// from the root; POST is logged; PUT, PLACE and DELETE are answered without effect.
class WebRequestWorker : public ConnectionWorker {
 public:
  /// Command numbers, as commandFromText gives them.
  enum Command { kUnknown = 0, kGet, kHead, kPost, kPut, kPlace, kDelete };

  explicit WebRequestWorker(LocalWebServer& owner);

  /// Reads one request line and answers it.
  void serveConnection() override;
  /// Answers "Too Many Connections, Please Try Later." and tells the server.
  void refuseConnection() override;

  /// Upper-cases `token` in place; the command whose name it contains, the first of GET, HEAD,
  /// POST, PUT, PLACE, DELETE in that order; kUnknown for none.
  virtual int commandFromText(char* token);
  /// Hands the request's log line to the server's onStatusText and returns what that returns.
  virtual int logRequest(int command, const char* path, int status, std::int64_t startTick);
  /// Asked before (phase 1) and after (phase 2) a file command; false refuses it. Only DELETE
  /// is refused.
  virtual bool permitCommand(int phase, int command, char* path, int pathSize, int status);
  /// Meant for commands beyond DELETE, which commandFromText never gives; does nothing.
  virtual void handleOtherCommand(int command, char* text, int size);

  /// The root path followed by `token` (its leading "/" or "\" dropped; "default.htm" for the
  /// bare slash) into `pathBuffer` of kFilePathSize bytes. Failed when the token contains "..",
  /// the path does not fit, or the server has served names and this is not one of them.
  NetResult resolvePath(char* pathBuffer, const char* token);
  /// The content type named by the extension of `path`.
  const char* contentTypeFor(const char* path);
  /// "Thu, 01 Jan 1970 00:00:00 GMT" for now, or for `moment`.
  const char* currentDateText();
  const char* currentDateText(std::time_t moment);
  /// The last write time of `file`, as "Thr, 1 Jan 1970 0:0:0 GMT"; "" when it cannot be read.
  const char* lastModifiedText(HANDLE file);
  const char* lastModifiedText(std::time_t moment);

  static constexpr int kRequestLineSize = 513;
  static constexpr int kFilePathSize = 261;
  static constexpr int kScratchSize = 257;

 protected:
  /// Sends `text` whole; a failed send is not reported to the client.
  void sendText(const char* text);
  /// GET and HEAD.
  void serveFile(int command, std::int64_t startTick);
  /// The 200 status line and the header lines for `file` of `size` bytes, in one send.
  void sendAnswerHead(HANDLE file, long long size);
  void addHeadLine(const char* line);
  /// Sends `size` bytes of `file` from its start; the bytes sent.
  long long sendBody(HANDLE file, long long size);
  /// True unless the server has served names and the request, read to its blank line, is not
  /// addressed to this machine (see LocalWebServer::setServedNames). Reads into requestLine.
  bool addressedToThisMachine();
  void answerDelete();
  void logPostedLines();

  LocalWebServer& webServer;
  char requestLine[kRequestLineSize] = {};
  bool requestLineWhole = false;  // the request line came with its CR LF, not cut
  char filePath[kFilePathSize] = {};
  char scratch[kScratchSize] = {};
  char dateText[257] = {};
  char modifiedText[259] = {};
  // The header lines of a 200 answer, each formatted in scratch, gathered to leave together.
  char answerHead[8 * kScratchSize] = {};
  int answerHeadLength = 0;
  std::shared_ptr<const std::string> realRoot;  // of the root the path was resolved in
};
