#include "version/version.h"

#include "platform/win32.h"

namespace {

bool IsScanfSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

size_t FindDot(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == '.') return i;
    i += (_ismbblead(c) && i + 1 < text.size()) ? 2 : 1;
  }
  return std::string::npos;
}

}  // namespace

int VersionNumber::Compare(const VersionNumber& other) const {
  if (negative != other.negative) return negative ? -1 : 1;
  int magnitude = 0;
  if (digits.size() != other.digits.size()) {
    magnitude = digits.size() < other.digits.size() ? -1 : 1;
  } else {
    int order = digits.compare(other.digits);
    magnitude = order < 0 ? -1 : (order > 0 ? 1 : 0);
  }
  return negative ? -magnitude : magnitude;
}

VersionNumber ParseVersionNumber(const std::string& text) {
  VersionNumber number;
  size_t i = 0;
  while (i < text.size() && IsScanfSpace(text[i])) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) number.negative = text[i++] == '-';
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (number.digits.empty() && text[i] == '0') continue;
    number.digits += text[i];
  }
  if (number.digits.empty()) number.negative = false;
  return number;
}

VersionNumber TakeVersionComponent(std::string& text) {
  if (text.empty()) return {};
  size_t dot = FindDot(text);
  if (dot == 0) {
    text.erase(0, 1);
    return {};
  }
  if (dot == std::string::npos) {
    VersionNumber value = ParseVersionNumber(text);
    text.clear();
    return value;
  }
  VersionNumber value = ParseVersionNumber(text.substr(0, dot));
  text.erase(0, dot + 1);
  return value;
}

bool IsUpdateAllowed(const std::string& newVersion, const std::string& installedVersion,
                     int refuseEqual) {
  std::string remainingNew = newVersion;
  std::string remainingInstalled = installedVersion;
  VersionNumber installed = TakeVersionComponent(remainingInstalled);
  VersionNumber offered = TakeVersionComponent(remainingNew);
  while (offered == installed) {
    if (remainingNew.empty()) {
      return remainingInstalled.empty() ? refuseEqual == 0 : true;
    }
    installed = TakeVersionComponent(remainingInstalled);
    offered = TakeVersionComponent(remainingNew);
  }
  return offered > installed;
}
