#pragma once

#include "net/http_client/string_list.h"
#include "net/socket/cut_wsclient.h"

class DataSource;

/// An HTTP/1.0 client: one connection per request, closed when the answer has been read. Keeps
/// the status line and header lines of the last answer, sends extra header lines of the caller's
/// with every request, and saves bodies into a data source (normally a file). A 401 or a redirect
/// ends the request unless a subclass supplies credentials (provideCredentials) or approves the
/// redirect (approveRedirect). Every request (each connection: a redirect or a retry makes a new
/// one) ends within its time limit, which bounds its connect, its sends and every wait for the
/// answer: past it the request fails as a receive time-out does. Used by one thread at a time.
class HttpFetchClient : public CUT_WSClient {
 public:
  /// The time limit of a request unless set otherwise: two minutes.
  static constexpr long kRequestTimeLimitMs = 2L * 60 * 1000;
  /// The longest body saved unless set otherwise: 64 MiB, the size above which a feed file is
  /// not loaded anyway.
  static constexpr long kMaxBodyBytes = 64L * 1024 * 1024;

  HttpFetchClient() = default;
  ~HttpFetchClient() override = default;

  /// Whether to follow a redirect to `url`; the client's own answer is no, and the body of the
  /// redirect answer is then saved.
  virtual bool approveRedirect(const char* url);
  /// GETs `url` into the file at `path`: the body goes into a new file beside it, which takes the
  /// place of `path` once the body has ended, whole or cut off (ReplacingFileDataSource), so
  /// nothing planted at `path` is written through. `path` is left as it was when the answer is a
  /// 401 or a redirect without Location, or when anything fails first. A body longer than
  /// bodyLimit() fails with SourceWriteFailed as it passes the limit, its new file removed and
  /// `path` left as it was. A null or empty path keeps the body as lines (bodyLines).
  virtual NetResult getToFile(const char* url, const char* path);
  /// GETs `url`, the body into `target` (opened in mode 1) or, without one, into bodyLines. An
  /// answer whose Content-Length is above bodyLimit() fails with SourceWriteFailed before its
  /// body is read; a body kept as lines fails with ReadFailed once it passes the limit (or 16 MiB).
  virtual NetResult get(const char* url, DataSource* target);
  virtual NetResult head(const char* url);
  virtual NetResult remove(const char* url);
  virtual NetResult putFromFile(const char* url, const char* path, bool isPost);
  virtual NetResult putFromSource(const char* url, DataSource& source, bool isPost);
  virtual NetResult postFile(const char* url, const char* path);
  virtual NetResult postSource(const char* url, DataSource& source);
  /// Sends "METHOD path HTTP/1.0" with the usual header lines, then `extraLine` when not empty.
  virtual NetResult sendCommand(const char* method, const char* url, const char* extraLine);
  /// Writes bodyLines to the file at `path`, each ending in CR LF.
  virtual NetResult saveBodyLines(const char* path);
  /// Credentials for a Basic challenge of `realm`, into two 32-byte buffers; the client's own
  /// answer is none (false), so a 401 ends the request.
  virtual bool provideCredentials(const char* realm, char* userOut, char* passwordOut);
  /// Adds "Authorization: Basic ..." for user and password to the custom header lines: 0, or 1
  /// when either is empty.
  virtual int addBasicAuthorization(const char* user, const char* password);

  /// The time limit of each following request, from its connect to the end of its answer.
  void setRequestTimeLimit(long milliseconds) { requestTimeLimitMs = milliseconds; }
  long requestTimeLimit() const { return requestTimeLimitMs; }
  /// The longest body the following requests save, in bytes.
  void setBodyLimit(long bytes) { bodyLimitBytes = bytes; }
  long bodyLimit() const { return bodyLimitBytes; }

  /// The status code of the last status line read; 0 on a fresh client.
  int statusCode() const { return status; }
  /// Adds a header line to every following request; CR LF is added unless it ends in a line end.
  int addHeader(const char* line);
  /// Forgets the custom header lines (the Host line a request added among them too).
  int clearHeaders();
  /// Status line and header lines of the last answer, line ends removed.
  const StringList& headerLines() const { return responseHeaders; }
  /// Body of the last answer as lines, when it was not saved into a data source.
  const StringList& bodyLines() const { return responseBody; }

  /// Scheme, realm and nonce of the last WWW-Authenticate line of the answer, into buffers of
  /// 29, 29 and 1000 bytes: the words after the header name, and the first and second quoted
  /// values. A value that is missing or does not fit is "". Always 0.
  int getDigestChallenge(char* scheme, char* realm, char* nonce) const;
  /// Scheme and realm as getDigestChallenge takes them. Always 0.
  int getBasicChallenge(char* scheme, char* realm) const;
  /// The first Location of the answer into `target` (255 bytes), a path prefixed with the host
  /// name: 1, or 0 when there is none or it does not fit.
  int findRedirectLocation(char* target) const;

 protected:
  /// Splits `url` into host (resolved by setHost), port and path; the path goes into `pathOut`.
  NetResult parseUrl(const char* url, char* pathOut, int pathCapacity);
  NetResult setHost(const char* name);
  NetResult openConnection();
  NetResult sendGetLine(const char* url);
  NetResult sendHeaders();
  NetResult readStatusAndHeaders();
  NetResult readBodyLines();

  int serverPort = 80;
  char hostAddress[32] = {};
  char hostName[261] = {};
  StringList responseHeaders;
  StringList responseBody;
  int status = 0;
  int connectTimeout = 5;
  StringList customHeaders;
  long requestTimeLimitMs = kRequestTimeLimitMs;
  long bodyLimitBytes = kMaxBodyBytes;

 private:
  enum class Answer { Done, ReadBody, Retry, Redirect };

  /// Parses `url`, sets the request's deadline, connects and sends "METHOD path HTTP/1.0" (a path
  /// without its leading slash gets one).
  NetResult sendRequestLine(const char* method, const char* url);
  /// The request line, the custom lines, the Host line and the blank line.
  NetResult sendRequest(const char* method, const char* url);
  /// What to do about a 401 or redirect answer; `retried` tells whether credentials were sent.
  Answer decide(bool& retried, char* redirectTarget);
  /// The request of the non-GET methods up to the answer's header lines, with the single retry
  /// with credentials on a 401.
  NetResult exchange(const char* method, const char* url, DataSource* upload);
  /// True when the answer declares a Content-Length above the body limit.
  bool declaresTooLongBody() const;
};
