#include "net/http_server/local_web_server.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "net/io/text_helpers.h"
#include "platform/calendar_time.h"
#include "platform/file_system.h"
#include "platform/winsock.h"

namespace {

constexpr const char* kNotRecognized = "Command Not Reconized\r\n";
constexpr const char* kNotFound = "HTTP/1.0 404 Requested file not found\r\n";
constexpr const char* kServerLine = "Server: The Ultimate Toolbox WWW Server\r\n";
constexpr const char* kMimeLine = "MIME-verion: 1.0\r\n";
constexpr const char* kNotImplemented = "HTTP/1.0 501 Not Implemented\r\n\r\n";

constexpr const char* kCommandNames[] = {"N/A", "GET", "HEAD", "POST", "PUT", "PLACE", "DELETE"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
// Last-modified values have always carried this spelling of Thursday; clients have seen it so.
constexpr const char* kModifiedWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thr", "Fri", "Sat"};

// The longest method token.
constexpr int kTokenCapacity = 31;
// The most header lines a server with served names reads before it gives up on a request.
constexpr int kHeaderLineLimit = 100;
// The most body bytes one send carries when the body goes through a stream other than the
// connection.
constexpr int kBodyBlock = 512;

struct ContentType {
  const char* extension;
  const char* type;
};
constexpr ContentType kContentTypes[] = {
    {"HTM", "text/html"},
    {"HTML", "text/html"},
    {"TXT", "text/text"},
    {"GIF", "image/gif"},
    {"JPG", "image/jpeg"},
    {"JPEG", "image/jpeg"},
    {"BMP", "image/xbitmap"},
    {"ZIP", "application/octet-stream"},
    {"EXE", "application/octet-stream"},
    {"DOC", "application/msword"},
    {"AU", "audio/au"},
    {"WAV", "audio/wav"},
    {"MPEG", "vidio/mpeg"},
    {"MPG", "vidio/mpeg"},
    {"AVI", "vidio/avi"},
};

std::int64_t TickCount() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The calendar fields of `moment` in UTC with names that index the tables safely.
bool UtcFields(std::time_t moment, std::tm& fields) {
  return platform::UtcCalendarTime(moment, fields) && fields.tm_wday >= 0 && fields.tm_wday < 7 &&
         fields.tm_mon >= 0 && fields.tm_mon < 12;
}

// `text` without the spaces and tabs at either end.
std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  return first == std::string::npos ? std::string()
                                    : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Whether `host` is an IPv4 address of 127.0.0.0/8 in four dotted decimal parts.
bool IsLoopbackIPv4(const std::string& host) {
  int parts = 0;
  std::size_t at = 0;
  for (; parts < 4; ++parts) {
    std::size_t digits = 0;
    int value = 0;
    for (; digits < 4 && at + digits < host.size() &&
           std::isdigit(static_cast<unsigned char>(host[at + digits]));
         ++digits) {
      value = value * 10 + (host[at + digits] - '0');
    }
    if (digits == 0 || digits > 3 || value > 255 || (parts == 0 && value != 127)) {
      return false;
    }
    at += digits;
    if (parts < 3 && (at >= host.size() || host[at++] != '.')) {
      return false;
    }
  }
  return at == host.size();
}

// Whether a Host header's value names this machine's loopback: "localhost" (in any case), an
// address of 127.0.0.0/8 or "[::1]", each with or without a port.
bool NamesLoopback(const std::string& value) {
  const std::string hostAndPort = Trimmed(value);
  const std::size_t portColon =
      hostAndPort.find(':', hostAndPort.compare(0, 1, "[") == 0 ? hostAndPort.find(']') : 0);
  const std::string host = hostAndPort.substr(0, portColon);
  if (portColon != std::string::npos) {
    const std::string port = hostAndPort.substr(portColon + 1);
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
  }
  return equalsIgnoringCase(host.c_str(), "localhost") || host == "[::1]" || IsLoopbackIPv4(host);
}

}  // namespace

// ---- LocalWebServer ---------------------------------------------------------------------------

LocalWebServer::LocalWebServer() {
  // Files in a shared temporary directory are nobody else's business: only this machine's own
  // loopback clients are served.
  addressFilter().addRangeText(AddressFilter::kAllowedRanges, "127.0.0.0", "127.255.255.255");
  addressFilter().addRangeText(AddressFilter::kDeniedRanges, "0.0.0.0", "255.255.255.255");
  std::error_code error;
  const std::string current = std::filesystem::current_path(error).string();
  if (!error) {
    setRootPath(current.c_str());
  }
}

LocalWebServer::~LocalWebServer() {
  stop();
  markShuttingDown();
  waitForConnections();
}

ConnectionWorker* LocalWebServer::createWorker() {
  return new (std::nothrow) WebRequestWorker(*this);
}

void LocalWebServer::releaseWorker(ConnectionWorker* worker) {
  delete worker;
}

NetResult LocalWebServer::setRootPath(const char* text) {
  if (text == nullptr || text[0] == '\0') {
    return reportResult(NetResult::NoRootPath);
  }
  std::string root = text;
  if (root.back() != platform::kDirectorySeparator) {
    root += platform::kDirectorySeparator;
  }
  // Cut, the root would name another directory.
  if (root.size() >= static_cast<std::size_t>(kRootCapacity)) {
    return reportResult(NetResult::BufferTooSmall);
  }
  std::string real;
  std::shared_ptr<const std::string> realRoot;
  if (platform::RealDirectoryPath(root.c_str(), real)) {
    realRoot = std::make_shared<const std::string>(std::move(real));
  }
  std::lock_guard<std::shared_mutex> writing(rootLock);
  std::memcpy(rootPath, root.c_str(), root.size() + 1);
  realRootPath = std::move(realRoot);
  return reportResult(NetResult::Success);
}

int LocalWebServer::copyRootPath(char* buffer, int size,
                                 std::shared_ptr<const std::string>& realRoot) {
  std::shared_lock<std::shared_mutex> reading(rootLock);
  if (!realRootPath && rootPath[0] != '\0') {
    reading.unlock();
    resolveRealRoot();
    reading.lock();
  }
  realRoot = realRootPath;
  const int length = static_cast<int>(std::strlen(rootPath));
  if (buffer == nullptr || length >= size) {
    return -1;
  }
  std::memcpy(buffer, rootPath, static_cast<std::size_t>(length) + 1);
  return length;
}

void LocalWebServer::resolveRealRoot() {
  // The directory did not exist when it was set; it may now.
  std::lock_guard<std::shared_mutex> writing(rootLock);
  std::string real;
  if (!realRootPath && platform::RealDirectoryPath(rootPath, real)) {
    realRootPath = std::make_shared<const std::string>(std::move(real));
  }
}

void LocalWebServer::setServedNames(std::vector<std::string> names) {
  auto list = std::make_shared<const std::vector<std::string>>(std::move(names));
  std::lock_guard<std::shared_mutex> writing(rootLock);
  servedNameList = std::move(list);
}

std::shared_ptr<const std::vector<std::string>> LocalWebServer::servedNames() {
  std::shared_lock<std::shared_mutex> reading(rootLock);
  return servedNameList;
}

// ---- WebRequestWorker: the request ------------------------------------------------------------

WebRequestWorker::WebRequestWorker(LocalWebServer& owner) : webServer(owner) {}

void WebRequestWorker::serveConnection() {
  filePath[0] = scratch[0] = requestLine[0] = '\0';
  const std::int64_t startTick = TickCount();
  const int length = readLine(requestLine, kRequestLineSize - 1, 0);
  if (length < 1) {
    return;
  }
  requestLineWhole = length >= 2 && std::strcmp(requestLine + length - 2, "\r\n") == 0;
  stripLineEnd(requestLine);
  char token[kTokenCapacity];
  const int command = splitField(requestLine, " ", 0, token, sizeof token) == 0
                          ? commandFromText(token)
                          : static_cast<int>(kUnknown);
  switch (command) {
    case kGet:
    case kHead:
      serveFile(command, startTick);
      return;
    case kPost:
      logPostedLines();
      logRequest(command, filePath, 1, startTick);
      return;
    case kPut:
      sendText(kNotImplemented);
      sendText(kServerLine);
      sendText(kMimeLine);
      return;
    case kPlace:
      sendText(kNotImplemented);
      return;
    case kDelete:
      answerDelete();
      return;
    default:
      sendText(kNotRecognized);
      return;
  }
}

void WebRequestWorker::serveFile(int command, std::int64_t startTick) {
  int status = 1;
  if (splitField(requestLine, " ?", 1, scratch, kScratchSize) != 0) {
    sendText(kNotRecognized);
    return;
  }
  if (!addressedToThisMachine() || resolvePath(filePath, scratch) != NetResult::Success) {
    sendText(kNotFound);
    return;
  }
  if (!permitCommand(1, command, filePath, kFilePathSize, 1)) {
    discardPending();
    return;
  }
  const HANDLE file =
      realRoot ? platform::OpenFileInside(filePath, *realRoot) : INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE) {
    sendText(kNotFound);
    status = 0;
  } else {
    DWORD sizeHigh = 0;
    const DWORD sizeLow = GetFileSize(file, &sizeHigh);
    const long long size =
        sizeLow == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS
            ? 0
            : static_cast<long long>(static_cast<std::uint64_t>(sizeHigh) << 32 | sizeLow);
    sendAnswerHead(file, size);
    if (command == kGet && sendBody(file, size) != size) {
      status = 0;
    }
    CloseHandle(file);
    discardPending();
  }
  permitCommand(2, command, filePath, kFilePathSize, status);
  logRequest(command, filePath, status, startTick);
}

void WebRequestWorker::sendAnswerHead(HANDLE file, long long size) {
  answerHeadLength = 0;
  addHeadLine("HTTP/1.0 200 OK\r\n");
  std::snprintf(scratch, kScratchSize, "Date:%.200s\r\n", currentDateText());
  addHeadLine(scratch);
  addHeadLine(kServerLine);
  addHeadLine(kMimeLine);
  std::snprintf(scratch, kScratchSize, "Content-type: %s\r\n", contentTypeFor(filePath));
  addHeadLine(scratch);
  std::snprintf(scratch, kScratchSize, "Last-modified: %.200s\r\n", lastModifiedText(file));
  addHeadLine(scratch);
  std::snprintf(scratch, kScratchSize, "Content-length: %lld\r\n", size);
  addHeadLine(scratch);
  addHeadLine("\r\n");
  sendWhole(answerHead, answerHeadLength);
}

void WebRequestWorker::addHeadLine(const char* line) {
  const std::size_t length = std::strlen(line);
  if (answerHeadLength + length <= sizeof answerHead) {
    std::memcpy(answerHead + answerHeadLength, line, length);
    answerHeadLength += static_cast<int>(length);
  }
}

long long WebRequestWorker::sendBody(HANDLE file, long long size) {
  // To the connection the system copies the file itself; a stream in its place (tests, fuzzers)
  // gets it block by block.
  if (stream == &socketStream) {
    return platform::SendFileBytes(socket, file, size);
  }
  long long sent = 0;
  DWORD count = 0;
  while (sent < size &&
         ReadFile(file, requestLine,
                  static_cast<DWORD>(std::min<long long>(kBodyBlock, size - sent)), &count,
                  nullptr) &&
         count > 0) {
    if (sendWhole(requestLine, static_cast<int>(count)) < 0) {
      break;
    }
    sent += count;
  }
  return sent;
}

bool WebRequestWorker::addressedToThisMachine() {
  if (!webServer.servedNames()) {
    return true;
  }
  // The rest of a cut request line would be taken for header lines.
  if (!requestLineWhole) {
    return false;
  }
  // A request line without a protocol version has no header lines after it.
  if (countFields(requestLine, " ") < 3) {
    return true;
  }
  // Read to the blank line even past a foreign Host: the answer then waits for no more input.
  bool local = true;
  for (int read = 0; read < kHeaderLineLimit; ++read) {
    const int length = readLine(requestLine, kRequestLineSize - 1, 0);
    if (length < 2 || std::strcmp(requestLine + length - 2, "\r\n") != 0) {
      return false;
    }
    // A CR whose LF came apart from it leaves more than one line in the buffer: each counts.
    for (char* line = requestLine; *line != '\0';) {
      char* end = std::strchr(line, '\n');
      if (end == nullptr) {
        return false;  // a NUL in the line hides what follows it
      }
      *end = '\0';
      stripLineEnd(line);
      if (line[0] == '\0') {
        return local;  // the blank line that ends the header
      }
      char* colon = std::strchr(line, ':');
      if (colon != nullptr &&
          equalsIgnoringCase(Trimmed(std::string(line, colon)).c_str(), "Host") &&
          !NamesLoopback(colon + 1)) {
        local = false;
      }
      line = end + 1;
    }
  }
  return false;
}

void WebRequestWorker::answerDelete() {
  if (splitField(requestLine, " ", 1, scratch, kScratchSize) != 0) {
    sendText("HTTP/1.0 400 Bad Request\r\n\r\n");
    return;
  }
  if (resolvePath(filePath, scratch) != NetResult::Success) {
    sendText("HTTP/1.0 404 Requested file not found\r\n\r\n");
    return;
  }
  // Nothing is ever deleted: permitted or not, the answer is the same.
  if (!permitCommand(1, kDelete, filePath, kFilePathSize, 1)) {
    sendText("HTTP/1.0 405 Method Not Allowed\r\n");
    sendText("Content-Type: text/html\r\n\r\n");
    sendText("<html><body>DELETE Method Not Allowed</body></html>");
    discardPending();
  }
}

void WebRequestWorker::logPostedLines() {
  while (hasPendingData()) {
    if (readLine(requestLine, kRequestLineSize - 1, 0) < 1) {
      break;
    }
    stripLineEnd(requestLine);
    server->onStatusText(requestLine);
  }
}

void WebRequestWorker::refuseConnection() {
  sendText("Too Many Connections, Please Try Later.");
  std::snprintf(requestLine, kRequestLineSize, "(%d) Max Connections Reached", server->liveCount());
  server->onStatusText(requestLine);
  discardPending();
}

void WebRequestWorker::sendText(const char* text) {
  sendWhole(text, static_cast<int>(std::strlen(text)));
}

// ---- WebRequestWorker: the hooks --------------------------------------------------------------

int WebRequestWorker::commandFromText(char* token) {
  if (token == nullptr) {
    return kUnknown;
  }
  for (char* letter = token; *letter != '\0'; ++letter) {
    *letter = static_cast<char>(std::toupper(static_cast<unsigned char>(*letter)));
  }
  for (int command = kGet; command <= kDelete; ++command) {
    if (std::strstr(token, kCommandNames[command]) != nullptr) {
      return command;
    }
  }
  return kUnknown;
}

int WebRequestWorker::logRequest(int command, const char* path, int status,
                                 std::int64_t startTick) {
  std::tm local{};
  dateText[0] = '\0';
  if (platform::LocalCalendarTime(std::time(nullptr), local)) {
    std::strftime(dateText, sizeof dateText, "%H:%M", &local);
  }
  const bool known = command >= kUnknown && command <= kDelete;
  std::snprintf(scratch, kScratchSize, "%d Time=%-6.6s IP=%-15.15s Duration=%-7.7ld %s=%s", status,
                dateText, peerAddressText(), static_cast<long>(TickCount() - startTick),
                kCommandNames[known ? command : kUnknown], path != nullptr ? path : "");
  return server->onStatusText(scratch);
}

bool WebRequestWorker::permitCommand(int, int command, char*, int, int) {
  return command != kDelete;
}

void WebRequestWorker::handleOtherCommand(int, char*, int) {}

// ---- WebRequestWorker: paths and header values ------------------------------------------------

NetResult WebRequestWorker::resolvePath(char* pathBuffer, const char* token) {
  const int rootLength = webServer.copyRootPath(pathBuffer, kFilePathSize, realRoot);
  if (rootLength < 0 || token == nullptr) {
    return reportResult(NetResult::Failed);
  }
  const char* rest = token;
  if (token[0] == '\\' || token[0] == '/') {
    rest = token[1] != '\0' ? token + 1 : "default.htm";
  }
  const auto names = webServer.servedNames();
  if (names && std::find(names->begin(), names->end(), rest) == names->end()) {
    pathBuffer[rootLength] = '\0';
    return reportResult(NetResult::Failed);
  }
  const std::size_t restLength = std::strlen(rest);
  // A path that does not fit would name another file: it is not served at all.
  if (static_cast<std::size_t>(rootLength) + restLength >=
      static_cast<std::size_t>(kFilePathSize)) {
    pathBuffer[rootLength] = '\0';
    return reportResult(NetResult::Failed);
  }
  std::memcpy(pathBuffer + rootLength, rest, restLength + 1);
  return reportResult(std::strstr(token, "..") != nullptr ? NetResult::Failed : NetResult::Success);
}

const char* WebRequestWorker::contentTypeFor(const char* path) {
  // The text after the last dot past the first character; without such a dot, all of it after
  // the first character.
  const char* extension = "";
  if (path != nullptr && path[0] != '\0') {
    const char* dot = std::strrchr(path + 1, '.');
    extension = dot != nullptr ? dot + 1 : path + 1;
  }
  for (const ContentType& known : kContentTypes) {
    if (equalsIgnoringCase(extension, known.extension)) {
      return known.type;
    }
  }
  return "application/octet-stream";
}

const char* WebRequestWorker::currentDateText() {
  return currentDateText(std::time(nullptr));
}

const char* WebRequestWorker::currentDateText(std::time_t moment) {
  std::tm utc{};
  dateText[0] = '\0';
  if (UtcFields(moment, utc)) {
    std::snprintf(dateText, sizeof dateText, "%s, %2.2d %s %d %2.2d:%2.2d:%2.2d GMT",
                  kWeekdays[utc.tm_wday], utc.tm_mday, kMonths[utc.tm_mon], utc.tm_year + 1900,
                  utc.tm_hour, utc.tm_min, utc.tm_sec);
  }
  return dateText;
}

const char* WebRequestWorker::lastModifiedText(HANDLE file) {
  std::time_t written = 0;
  if (!platform::GetLastWriteTime(file, written)) {
    modifiedText[0] = '\0';
    return modifiedText;
  }
  return lastModifiedText(written);
}

const char* WebRequestWorker::lastModifiedText(std::time_t moment) {
  std::tm utc{};
  modifiedText[0] = '\0';
  if (UtcFields(moment, utc)) {
    std::snprintf(modifiedText, sizeof modifiedText, "%s, %d %s %d %d:%d:%d %s",
                  kModifiedWeekdays[utc.tm_wday], utc.tm_mday, kMonths[utc.tm_mon],
                  utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec, "GMT");
  }
  return modifiedText;
}
