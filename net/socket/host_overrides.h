#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

/// The process's private hosts file: host names, or "*.domain" patterns, that resolve to a fixed
/// dotted address before the system resolver is asked. Empty unless configuration fills it.
/// Safe to use from any thread.
class HostOverrides {
 public:
  /// The one table of the process.
  static HostOverrides& instance();

  /// Makes `pattern` resolve to `address`. A pattern "*.domain" stands for every name that ends
  /// in ".domain"; any other pattern for that name alone. Names compare ignoring case.
  void add(const std::string& pattern, const std::string& address);

  /// Forgets every entry.
  void clear();

  /// The address for `name`: an exact entry first, else the longest matching pattern.
  std::optional<std::string> lookUp(const std::string& name) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> entries_;  // lower-cased pattern, address
};
