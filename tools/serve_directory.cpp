// Serves one directory with the built-in HTTP/1.0 server on 127.0.0.1 until SIGTERM or SIGINT.
//
//   serve-directory PORT ROOT
//
// Prints "PORT <n>" once the server accepts (port 0 picks a free one), then waits. The signal
// wait is POSIX; this tool builds on Linux only for now.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "net/http_server/local_web_server.h"

namespace {

// A port number 0 to 65535 written in decimal digits only.
bool ParsePort(const char* text, unsigned short& port) {
  char* end = nullptr;
  errno = 0;
  unsigned long value = std::strtoul(text, &end, 10);
  if (*text < '0' || *text > '9' || errno != 0 || *end != '\0' || value > 65535)
    return false;
  port = static_cast<unsigned short>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned short port = 0;
  if (argc != 3 || !ParsePort(argv[1], port)) {
    std::fprintf(stderr, "usage: %s PORT ROOT   (PORT 0 picks a free port)\n", argv[0]);
    return 2;
  }

  // Blocked before the server starts its threads, so they inherit the mask and the signals wait
  // for sigwait below instead of ending the process elsewhere.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  LocalWebServer server;
  NetResult result = server.startListening(port, 5, AF_INET, htonl(INADDR_LOOPBACK));
  if (result != NetResult::Success) {
    std::fprintf(stderr, "%s: cannot listen on 127.0.0.1 port %hu (code %d)\n", argv[0], port,
                 static_cast<int>(result));
    return 1;
  }
  if (server.startAcceptThread() != NetResult::Success) {
    std::fprintf(stderr, "%s: cannot start the accept thread for port %hu\n", argv[0], port);
    return 1;
  }
  server.setRootPath(argv[2]);
  std::printf("PORT %hu\n", server.listeningPort());
  std::fflush(stdout);

  int received = 0;
  sigwait(&stopSignals, &received);
  // Leaving the scope destroys the server, which waits for the connections still being served.
  return 0;
}
