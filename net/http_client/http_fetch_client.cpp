#include "net/http_client/http_fetch_client.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "net/http_client/base64_encoder.h"
#include "net/io/data_source.h"
#include "net/io/deadline.h"
#include "net/io/file_data_source.h"
#include "net/io/replacing_file_data_source.h"
#include "net/io/text_helpers.h"

namespace {

// Header lines and line bodies are read in pieces of at most 520 bytes.
constexpr int kLineBuffer = 521;
constexpr int kPathCapacity = 261;
constexpr int kSchemeCapacity = 29;
constexpr int kRealmCapacity = 29;
constexpr int kNonceCapacity = 1000;
constexpr int kLocationCapacity = 255;
constexpr int kCredentialCapacity = 32;
// A server that never ends its header block, or a body kept as lines, must not grow without end.
constexpr int kMaxHeaderLines = 256;
constexpr long kMaxBodyLineBytes = 16L << 20;
// Approved redirects followed for one request before its last answer is taken as it is.
constexpr int kMaxRedirects = 10;

bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307;
}

// True when the first field of the header `line`, split at `delimiters`, is `name` in any case.
bool IsHeader(const char* line, const char* delimiters, const char* name) {
  char field[266];
  return splitField(line, delimiters, 0, field, sizeof field) == 0 &&
         equalsIgnoringCase(field, name);
}

// Copies quoted value number `index` of the challenge `line` (its fields split at the double
// quote alone: base64 nonces end in "=" padding) into `out`. A CR or LF ends the value, so that
// nothing after it reaches a header line built from the value; a value that does not fit into
// `capacity` bytes with its NUL, or a missing one, leaves `out` "".
void ReadChallengeValue(const char* line, int index, char* out, int capacity) {
  out[0] = '\0';
  std::string field(std::strlen(line) + 1, '\0');
  if (splitField(line, "\"", index, &field[0], static_cast<int>(field.size())) != 0) {
    return;
  }
  const std::size_t length = std::strcspn(field.c_str(), "\r\n");
  if (length < static_cast<std::size_t>(capacity)) {
    std::memcpy(out, field.c_str(), length);
    out[length] = '\0';
  }
}

// The custom header lines of a request, restored after a retry or redirect so that the Host
// line one attempt added is not sent twice by the next.
void TrimTo(StringList& lines, int count) {
  while (lines.count() > count) {
    lines.removeAt(lines.count() - 1);
  }
}

}  // namespace

// ---- the decision hooks -----------------------------------------------------------------------

bool HttpFetchClient::approveRedirect(const char*) {
  return false;
}

bool HttpFetchClient::provideCredentials(const char*, char*, char*) {
  return false;
}

int HttpFetchClient::addBasicAuthorization(const char* user, const char* password) {
  if (user == nullptr || password == nullptr || *user == '\0' || *password == '\0') {
    return 1;
  }
  const std::string credentials = std::string(user) + ":" + password;
  const int length = static_cast<int>(credentials.size());
  std::string encoded(static_cast<std::size_t>(Base64Encoder::encodedCapacity(length)), '\0');
  Base64Encoder().encode(reinterpret_cast<const unsigned char*>(credentials.data()), length,
                         encoded.data(), static_cast<int>(encoded.size()));
  addHeader(("Authorization: Basic " + std::string(encoded.c_str())).c_str());
  return 0;
}

// ---- requests ---------------------------------------------------------------------------------

NetResult HttpFetchClient::getToFile(const char* url, const char* path) {
  if (path == nullptr || *path == '\0') {
    return get(url, nullptr);
  }
  ReplacingFileDataSource file(path, 4096);
  file.setSizeLimit(bodyLimitBytes);
  return get(url, &file);
}

NetResult HttpFetchClient::get(const char* url, DataSource* target) {
  std::string current = url != nullptr ? url : "";
  const int ownLines = customHeaders.count();
  bool retried = false;
  for (int redirects = 0;;) {
    NetResult result = sendGetLine(url != nullptr ? current.c_str() : nullptr);
    if (result == NetResult::Success) {
      result = sendHeaders();
    }
    if (result != NetResult::Success) {
      clearHeaders();
      return result;
    }
    writeText("\r\n", 2);
    result = readStatusAndHeaders();
    if (result != NetResult::Success) {
      disconnect();
      return result;
    }
    char location[kLocationCapacity];
    switch (decide(retried, location)) {
      case Answer::Done:
        disconnect();
        return reportResult(NetResult::Success);
      case Answer::Retry:
        continue;
      case Answer::Redirect:
        if (redirects++ < kMaxRedirects) {
          disconnect();
          TrimTo(customHeaders, ownLines);
          current = location;
          retried = false;
          continue;
        }
        break;
      case Answer::ReadBody:
        break;
    }
    if (declaresTooLongBody()) {
      disconnect();
      return reportResult(NetResult::SourceWriteFailed);
    }
    result =
        target != nullptr ? readToSource(*target, 1, receiveTimeout() / 1000, 0) : readBodyLines();
    disconnect();
    return result;
  }
}

HttpFetchClient::Answer HttpFetchClient::decide(bool& retried, char* redirectTarget) {
  if (status == 401) {
    char scheme[kSchemeCapacity];
    char realm[kRealmCapacity];
    getBasicChallenge(scheme, realm);
    char user[kCredentialCapacity] = {};
    char password[kCredentialCapacity] = {};
    if (retried || !provideCredentials(realm, user, password) ||
        !equalsIgnoringCase(scheme, "BASIC")) {
      return Answer::Done;
    }
    user[kCredentialCapacity - 1] = password[kCredentialCapacity - 1] = '\0';
    disconnect();
    // The Host line this attempt added goes; the retry adds its own after the credentials.
    customHeaders.removeAt(customHeaders.count() - 1);
    addBasicAuthorization(user, password);
    retried = true;
    return Answer::Retry;
  }
  if (IsRedirect(status)) {
    if (findRedirectLocation(redirectTarget) == 0) {
      return Answer::Done;
    }
    return approveRedirect(redirectTarget) ? Answer::Redirect : Answer::ReadBody;
  }
  return Answer::ReadBody;
}

NetResult HttpFetchClient::exchange(const char* method, const char* url, DataSource* upload) {
  bool retried = false;
  for (;;) {
    NetResult result = sendRequest(method, url);
    if (result != NetResult::Success) {
      return result;
    }
    if (upload != nullptr) {
      writeSource(*upload);
      writeText("\r\n", 2);
    }
    result = readStatusAndHeaders();
    char unused[kLocationCapacity];
    if (result != NetResult::Success || status != 401 || decide(retried, unused) != Answer::Retry) {
      return result;
    }
  }
}

NetResult HttpFetchClient::head(const char* url) {
  const NetResult result = exchange("HEAD", url, nullptr);
  discardPending();
  disconnect();
  return result;
}

NetResult HttpFetchClient::remove(const char* url) {
  NetResult result = exchange("DELETE", url, nullptr);
  if (result == NetResult::Success) {
    result = readBodyLines();
  }
  disconnect();
  return result;
}

NetResult HttpFetchClient::putFromSource(const char* url, DataSource& source, bool isPost) {
  if (source.open(0) == -1) {
    return reportResult(NetResult::SourceOpenFailed);
  }
  const int size = source.seek(0, 2);
  source.close();
  addHeader(("Content-Length: " + std::to_string(size < 0 ? 0 : size)).c_str());
  if (isPost) {
    addHeader("Content-Type: application/x-www-form-urlencoded");
  }
  NetResult result = exchange(isPost ? "POST" : "PUT", url, &source);
  if (result == NetResult::Success) {
    result = readBodyLines();
  }
  disconnect();
  clearHeaders();
  return result;
}

NetResult HttpFetchClient::putFromFile(const char* url, const char* path, bool isPost) {
  FileDataSource file(path, 4096);
  return putFromSource(url, file, isPost);
}

NetResult HttpFetchClient::postFile(const char* url, const char* path) {
  return putFromFile(url, path, true);
}

NetResult HttpFetchClient::postSource(const char* url, DataSource& source) {
  return putFromSource(url, source, true);
}

NetResult HttpFetchClient::sendCommand(const char* method, const char* url, const char* extraLine) {
  if (url == nullptr || method == nullptr) {
    return reportResult(NetResult::InvalidUrl);
  }
  NetResult result = sendRequest(method, url);
  if (result == NetResult::Success) {
    if (extraLine != nullptr && *extraLine != '\0') {
      writeText(extraLine);
      writeText("\r\n", 2);
    }
    result = readStatusAndHeaders();
    if (result == NetResult::Success) {
      result = readBodyLines();
    }
  }
  disconnect();
  return result;
}

NetResult HttpFetchClient::saveBodyLines(const char* path) {
  FileDataSource file(path, 4096);
  if (file.open(1) == -1) {
    return reportResult(NetResult::FileCreateFailed);
  }
  NetResult result = NetResult::Success;
  for (int i = 0; i < responseBody.count() && result == NetResult::Success; ++i) {
    if (isCancelled()) {
      disconnect();
      result = NetResult::Cancelled;
      break;
    }
    const char* line = responseBody.at(i);
    const int length = static_cast<int>(std::strlen(line));
    if ((length > 0 && file.write(line, length) != length) ||
        (!endsWithLineEnd(line) && file.write("\r\n", 2) != 2)) {
      result = NetResult::FileWriteFailed;
    }
  }
  file.close();
  return reportResult(result);
}

// ---- headers ----------------------------------------------------------------------------------

int HttpFetchClient::addHeader(const char* line) {
  if (line == nullptr) {
    return 1;
  }
  const std::size_t length = std::strlen(line);
  const bool ended =
      (length >= 1 && line[length - 1] == '\n') || (length >= 2 && line[length - 2] == '\r');
  customHeaders.append(ended ? line : (std::string(line) + "\r\n").c_str());
  return 1;
}

int HttpFetchClient::clearHeaders() {
  customHeaders.clear();
  return 1;
}

// ---- challenges and redirects -----------------------------------------------------------------

int HttpFetchClient::getDigestChallenge(char* scheme, char* realm, char* nonce) const {
  scheme[0] = realm[0] = nonce[0] = '\0';
  for (int i = 0; i < responseHeaders.count(); ++i) {
    const char* line = responseHeaders.at(i);
    if (!IsHeader(line, ": ", "WWW-Authenticate")) {
      continue;
    }
    splitField(line, " ", 1, scheme, kSchemeCapacity);
    ReadChallengeValue(line, 1, realm, kRealmCapacity);
    ReadChallengeValue(line, 3, nonce, kNonceCapacity);
  }
  return 0;
}

int HttpFetchClient::getBasicChallenge(char* scheme, char* realm) const {
  char nonce[kNonceCapacity];
  return getDigestChallenge(scheme, realm, nonce);
}

int HttpFetchClient::findRedirectLocation(char* target) const {
  for (int i = 0; i < responseHeaders.count(); ++i) {
    const char* line = responseHeaders.at(i);
    if (!IsHeader(line, ":", "Location")) {
      continue;
    }
    char value[kLocationCapacity];
    if (splitField(line, " ", 1, value, sizeof value) != 0) {
      return 0;
    }
    const std::string location = value[0] == '/' ? std::string(hostName) + value : value;
    if (location.size() >= static_cast<std::size_t>(kLocationCapacity)) {
      return 0;
    }
    std::memcpy(target, location.c_str(), location.size() + 1);
    return 1;
  }
  return 0;
}

bool HttpFetchClient::declaresTooLongBody() const {
  for (int i = 0; i < responseHeaders.count(); ++i) {
    const char* line = responseHeaders.at(i);
    int length = 0;
    if (IsHeader(line, ":", "Content-Length") && splitFieldInt(line, ": ", 1, length) == 0 &&
        length > bodyLimitBytes) {
      return true;
    }
  }
  return false;
}

// ---- the parts of a request -------------------------------------------------------------------

NetResult HttpFetchClient::parseUrl(const char* url, char* pathOut, int pathCapacity) {
  if (pathCapacity > 0) {
    pathOut[0] = '\0';
  }
  std::string text = url;
  std::replace(text.begin(), text.end(), '\\', '/');
  const bool hasScheme = text.find("://") != std::string::npos;
  NetResult result = NetResult::Success;
  char hostPart[kPathCapacity];
  if (splitField(text.c_str(), "/?%", hasScheme ? 1 : 0, hostPart, sizeof hostPart) != 0) {
    result = NetResult::UrlHostInvalid;
  }
  bool portGiven = false;
  char portText[kPathCapacity - 1];
  int port = 0;
  if (countFields(hostPart, ":") > 1 &&
      splitField(hostPart, ":", 1, portText, sizeof portText) == 0 && portText[0] != '/' &&
      splitFieldInt(portText, "/", 0, port) == 0) {
    if (port >= 0 && port <= 65535) {
      serverPort = port;
    }
    char hostOnly[kPathCapacity];
    splitField(hostPart, ":", 0, hostOnly, sizeof hostOnly);
    std::strcpy(hostPart, hostOnly);
    portGiven = true;
  }
  if (setHost(hostPart) != NetResult::Success) {
    result = NetResult::UrlHostInvalid;
  }
  // The path follows the host (and the port) and ends before a fragment. The host is looked for
  // after the scheme, which may hold the same letters ("h" in "http://h/x").
  const std::size_t hostSearch = hasScheme ? text.find("://") + 3 : 0;
  std::size_t pathStart = text.find(hostPart, hostSearch);
  pathStart = pathStart == std::string::npos ? text.size() : pathStart + std::strlen(hostPart);
  if (portGiven && pathStart < text.size() && text[pathStart] == ':') {
    pathStart = text.find_first_not_of("0123456789", pathStart + 1);
  }
  const std::string path =
      pathStart < text.size() ? text.substr(pathStart, text.find('#', pathStart) - pathStart) : "";
  if (static_cast<int>(path.size()) >= pathCapacity) {
    return reportResult(NetResult::InvalidUrl);
  }
  std::memcpy(pathOut, path.c_str(), path.size() + 1);
  return reportResult(result);
}

NetResult HttpFetchClient::setHost(const char* name) {
  if (std::strcmp(name, hostName) == 0) {
    return NetResult::Success;
  }
  const std::size_t length = std::strlen(name);
  if (length >= 256) {
    return NetResult::HostNameTooLong;
  }
  std::memcpy(hostName, name, length + 1);
  hostAddress[0] = '\0';
  if (isDottedAddress(name)) {
    if (length >= sizeof hostAddress) {
      return NetResult::HostNameTooLong;
    }
    std::memcpy(hostAddress, name, length + 1);
    return NetResult::Success;
  }
  return resolveHost(name, hostAddress, sizeof hostAddress) == NetResult::Success
             ? NetResult::Success
             : NetResult::Failed;
}

NetResult HttpFetchClient::openConnection() {
  return connectTo(static_cast<unsigned>(serverPort), hostName, connectTimeout, AF_INET,
                   SOCK_STREAM);
}

NetResult HttpFetchClient::sendGetLine(const char* url) {
  return sendRequestLine("GET", url);
}

NetResult HttpFetchClient::sendRequestLine(const char* method, const char* url) {
  if (url == nullptr) {
    return reportResult(NetResult::InvalidUrl);
  }
  responseBody.clear();
  responseHeaders.clear();
  char path[kPathCapacity];
  if (parseUrl(url, path, sizeof path) != NetResult::Success) {
    return reportResult(NetResult::InvalidUrl);
  }
  setDeadline(Deadline::in(requestTimeLimitMs));
  const NetResult opened = openConnection();
  if (opened != NetResult::Success) {
    return opened;
  }
  char line[kLineBuffer];
  const bool rooted = path[0] == '/' || path[0] == '%';
  const int length = std::snprintf(
      line, sizeof line, rooted ? "%s %s HTTP/1.0\r\n" : "%s /%s HTTP/1.0\r\n", method, path);
  if (length < 0 || length >= static_cast<int>(sizeof line) || writeText(line) <= 0) {
    disconnect();
    return reportResult(NetResult::WriteFailed);
  }
  if (isCancelled()) {
    disconnect();
    return reportResult(NetResult::Cancelled);
  }
  return reportResult(NetResult::Success);
}

NetResult HttpFetchClient::sendRequest(const char* method, const char* url) {
  NetResult result = sendRequestLine(method, url);
  if (result == NetResult::Success) {
    result = sendHeaders();
  }
  if (result == NetResult::Success) {
    writeText("\r\n", 2);
  }
  return result;
}

NetResult HttpFetchClient::sendHeaders() {
  for (int i = 0; i < customHeaders.count(); ++i) {
    if (writeText(customHeaders.at(i)) < 1) {
      disconnect();
      return reportResult(NetResult::WriteFailed);
    }
  }
  char host[kLineBuffer];
  std::snprintf(host, sizeof host, "Host: %s", hostName);
  addHeader(host);
  writeText(host);
  writeText("\r\n", 2);
  return reportResult(NetResult::Success);
}

NetResult HttpFetchClient::readStatusAndHeaders() {
  char line[kLineBuffer];
  bool cut = false;  // the previous piece ended before its line feed
  for (int lines = 0;; ++lines) {
    if (isCancelled()) {
      disconnect();
      responseHeaders.clear();
      return reportResult(NetResult::Cancelled);
    }
    if (lines == kMaxHeaderLines) {
      return reportResult(NetResult::ReadFailed);
    }
    const int count = readLine(line, sizeof line, receiveTimeout() / 1000);
    // The line end of a line cut at the end of a piece is no blank line.
    if (cut && count > 0 && (line[0] == '\r' || line[0] == '\n') && count <= 2) {
      cut = false;
      continue;
    }
    if (count < 3) {
      return reportResult(NetResult::Success);
    }
    cut = line[count - 1] != '\n';
    stripLineEnd(line);
    if (lines == 0) {
      int code = 0;
      status = splitFieldInt(line, " ", 1, code) == 0 ? code : 0;
    }
    responseHeaders.append(line);
  }
}

NetResult HttpFetchClient::readBodyLines() {
  char line[kLineBuffer];
  bool previousEnded = true;
  long total = 0;
  while (!isCancelled()) {
    const int count = readLine(line, sizeof line, receiveTimeout() / 1000);
    if (count <= 0) {
      return reportResult(NetResult::Success);
    }
    total += count;
    if (total > std::min(bodyLimitBytes, kMaxBodyLineBytes)) {
      return reportResult(NetResult::ReadFailed);
    }
    // Only a line feed ends a line: a CR that fills a piece is followed by its LF in the next.
    const bool ended = line[count - 1] == '\n';
    stripLineEnd(line);
    if (!previousEnded && responseBody.count() > 0) {
      const std::string joined = std::string(responseBody.at(responseBody.count() - 1)) + line;
      responseBody.removeAt(responseBody.count() - 1);
      responseBody.append(joined.c_str());
    } else {
      responseBody.append(line);
    }
    previousEnded = ended;
  }
  disconnect();
  responseBody.clear();
  return reportResult(NetResult::Cancelled);
}
