// service.conf as a user may have edited it: any text gives a configuration whose port is one
// the server can listen on, and whose host overrides can all be applied.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "update/service_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ServiceConfig config =
      ParseServiceConfig(std::string(reinterpret_cast<const char*>(data), size));
  FUZZ_CHECK(config.serverPort >= 1 && config.serverPort <= 65535);
  // A value is the rest of one line: none can carry a line end into a request.
  for (const std::string* value : {&config.site, &config.journalDomain, &config.usersHost}) {
    FUZZ_CHECK(value->find('\n') == std::string::npos);
  }
  for (const auto& [pattern, address] : config.resolve) {
    FUZZ_CHECK(!pattern.empty() && !address.empty());
  }
  ApplyServiceConfig(config);
  return 0;
}
