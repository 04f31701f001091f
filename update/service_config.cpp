#include "update/service_config.h"

#include <fstream>
#include <sstream>

#include "net/socket/host_overrides.h"

const char kServiceConfigFileName[] = "service.conf";

ServiceConfig ActiveServiceConfig;

namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) {
    return "";
  }
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A port from text that is entirely a number from 1 to 65535; otherwise `fallback`.
int PortOr(const std::string& text, int fallback) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return fallback;
  }
  const int port = std::stoi(text);
  return port >= 1 && port <= 65535 ? port : fallback;
}

void Apply(ServiceConfig& config, const std::string& key, const std::string& value) {
  if (key == "site") {
    config.site = value;
  } else if (key == "journal_domain") {
    config.journalDomain = value;
  } else if (key == "users_host") {
    config.usersHost = value;
  } else if (key == "server_port") {
    config.serverPort = PortOr(value, config.serverPort);
  } else if (key == "resolve") {
    std::istringstream words(value);
    std::string pattern, address, extra;
    if (words >> pattern >> address && !(words >> extra)) {
      config.resolve.emplace_back(pattern, address);
    }
  }
}

}  // namespace

ServiceConfig ParseServiceConfig(const std::string& text) {
  ServiceConfig config;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    line = Trimmed(line);
    const std::size_t equals = line.find('=');
    if (line.empty() || line[0] == '#' || equals == std::string::npos) {
      continue;
    }
    const std::string value = Trimmed(line.substr(equals + 1));
    if (!value.empty()) {
      Apply(config, Trimmed(line.substr(0, equals)), value);
    }
  }
  return config;
}

ServiceConfig LoadServiceConfig(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return ServiceConfig();
  }
  std::ostringstream text;
  text << file.rdbuf();
  return ParseServiceConfig(text.str());
}

void ApplyServiceConfig(const ServiceConfig& config) {
  ActiveServiceConfig = config;
  HostOverrides& overrides = HostOverrides::instance();
  overrides.clear();
  for (const auto& [pattern, address] : config.resolve) {
    overrides.add(pattern, address);
  }
}
