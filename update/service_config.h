#pragma once

#include <string>
#include <utility>
#include <vector>

/// Where the journal service lives. Read from "service.conf" beside "settings.dat": lines
/// "key = value"; "#" starts a comment line; unknown keys and malformed lines are ignored.
struct ServiceConfig {
  /// The web address in front of "/misc/fdata.bml?user=" and "/users/NAME/friends".
  std::string site = "http://www.zarnik.example";
  /// Journals live at http://NAME.<journalDomain>/data/rss.
  std::string journalDomain = "zarnik.example";
  /// Names starting with "_" or "-" live at http://<usersHost>/NAME/data/rss.
  std::string usersHost = "users.zarnik.example";
  /// The port of the local server that serves "all.xml".
  int serverPort = 80;
  /// Host overrides, pattern and dotted address ("*.zarnik.test", "127.0.0.1").
  std::vector<std::pair<std::string, std::string>> resolve;
};

/// The configuration file's name, relative to the current directory (the program's own).
extern const char kServiceConfigFileName[];

/// Reads the configuration at `path`; a missing file gives the defaults.
ServiceConfig LoadServiceConfig(const std::string& path = kServiceConfigFileName);

/// Reads configuration text; what it does not set keeps its default.
ServiceConfig ParseServiceConfig(const std::string& text);

/// The configuration the update engine uses; start-up loads it, tests may replace it.
extern ServiceConfig ActiveServiceConfig;

/// Makes `config` the active one and puts its host overrides into the socket layer's table,
/// replacing earlier ones.
void ApplyServiceConfig(const ServiceConfig& config);
