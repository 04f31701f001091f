#pragma once

#include <cstdlib>
#include <optional>
#include <string>

// Sets an environment variable (unsets it, for nullopt) for the life of the object, then puts
// the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    Set(name, value);
  }
  ~ScopedVariable() { Set(name_, old_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

  static void Set(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};
