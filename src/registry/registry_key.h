// Owns an open registry key and closes it when it goes out of scope.
#pragma once

#include <string>

#include "platform/win32.h"

class ScopedRegKey {
 public:
  ScopedRegKey() = default;
  explicit ScopedRegKey(HKEY key) : key_(key) {}
  ~ScopedRegKey() { Reset(); }
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;

  HKEY Get() const { return key_; }
  // Closes the key held so far and returns where a new one may be stored.
  HKEY* Receive() {
    Reset();
    return &key_;
  }
  void Reset() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

// Reads a text value of at most 260 bytes into value: the data up to its
// first zero byte, never beyond the size the query returned. Fails when the
// value is missing or longer than the buffer.
bool QueryTextValue(HKEY key, const char* name, std::string& value);
