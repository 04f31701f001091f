#include "net/socket/host_overrides.h"

#include <algorithm>
#include <cctype>

namespace {

std::string LowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

HostOverrides& HostOverrides::instance() {
  static HostOverrides table;
  return table;
}

void HostOverrides::add(const std::string& pattern, const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.emplace_back(LowerCase(pattern), address);
}

void HostOverrides::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

std::optional<std::string> HostOverrides::lookUp(const std::string& name) const {
  const std::string wanted = LowerCase(name);
  std::lock_guard<std::mutex> lock(mutex_);
  const std::pair<std::string, std::string>* best = nullptr;
  for (const auto& entry : entries_) {
    const std::string& pattern = entry.first;
    if (pattern == wanted) {
      return entry.second;
    }
    const bool matches = pattern.size() > 2 && pattern.compare(0, 2, "*.") == 0 &&
                         EndsWith(wanted, pattern.substr(1));
    if (matches && (best == nullptr || pattern.size() > best->first.size())) {
      best = &entry;
    }
  }
  return best != nullptr ? std::optional<std::string>(best->second) : std::nullopt;
}
