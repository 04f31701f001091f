#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include "net/http_server/listen_server.h"
#include "platform/win32.h"

/// The built-in HTTP/1.0 file server: it serves the regular files of one root directory to
/// clients on this machine. Each connection carries one request line and is closed after the
/// answer; there is no keep-alive, no header parsing, no URL decoding and no directory listing.
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

  /// The root path's capacity, its terminating NUL included.
  static constexpr int kRootCapacity = 260;

 private:
  std::mutex rootLock;  // guards rootPath and realRootPath: workers read them while they change
  char rootPath[kRootCapacity] = {};
  std::shared_ptr<const std::string> realRootPath;
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
  /// bare slash) into `pathBuffer` of kFilePathSize bytes. Failed when the token contains ".."
  /// or the path does not fit.
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
  void answerDelete();
  void logPostedLines();

  LocalWebServer& webServer;
  char requestLine[kRequestLineSize] = {};
  char filePath[kFilePathSize] = {};
  char scratch[kScratchSize] = {};
  char dateText[257] = {};
  char modifiedText[259] = {};
  std::shared_ptr<const std::string> realRoot;  // of the root the path was resolved in
};
