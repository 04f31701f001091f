#include "tests/support/fake_journal_process.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "net/http_client/http_fetch_client.h"

namespace test_support {
namespace {

const char kPython[] = "/usr/bin/python3";

}  // namespace

FakeJournalProcess::FakeJournalProcess() {
  namespace fs = std::filesystem;
  const fs::path source = fs::path(ZV_SOURCE_DIR) / "tools" / "fake_journal";
  fs::copy_file(source / "sample" / "service.json", folder_.file("service.json"));
  if (::access(kPython, X_OK) != 0) {
    return;
  }
  const std::string script = (source / "fake_journal.py").string();
  child_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      kPython, script, folder_.path(), "--log", folder_.file("requests.log")});
  // Its first line is "PORT <n>".
  const std::string line = child_->FirstLine();
  port_ = line.rfind("PORT ", 0) == 0 ? std::atoi(line.c_str() + 5) : 0;
}

FakeJournalProcess::~FakeJournalProcess() = default;

bool FakeJournalProcess::control(const std::string& request) const {
  HttpFetchClient client;
  const std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/_control/" + request;
  client.getToFile(url.c_str(), nullptr);
  return client.statusCode() == 200;
}

std::string FakeJournalProcess::log() const {
  return folder_.Read("requests.log");
}

}  // namespace test_support
