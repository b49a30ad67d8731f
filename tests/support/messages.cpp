#include "support/messages.h"

#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <stdlib.h>
#endif

namespace testing_support {

#ifdef _WIN32

std::string ToCodePage(const std::string& utf8, unsigned codePage) {
  const int utf8Length = static_cast<int>(utf8.size());
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), utf8Length, &wide[0], utf8Length));
  std::string result(wide.size() * 4, '\0');
  result.resize(WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                    &result[0], static_cast<int>(result.size()), nullptr,
                                    nullptr));
  return result;
}

#else

std::string ToCodePage(const std::string& utf8, unsigned codePage) {
  const std::string name = codePage == 65001 ? "UTF-8" : "CP" + std::to_string(codePage);
  iconv_t cd = iconv_open(name.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no converter to " + name);
  std::string input = utf8;
  std::string result(utf8.size() * 4, '\0');
  char* in = &input[0];
  size_t inLeft = input.size();
  char* out = &result[0];
  size_t outLeft = result.size();
  const size_t converted = iconv(cd, &in, &inLeft, &out, &outLeft);
  iconv_close(cd);
  if (converted == static_cast<size_t>(-1)) throw std::runtime_error("cannot convert to " + name);
  result.resize(result.size() - outLeft);
  return result;
}

ScopedLocaleVariables::ScopedLocaleVariables(const char* lang, const char* messages,
                                             const char* all) {
  for (const char* name : {"LANG", "LC_MESSAGES", "LC_ALL", "LC_CTYPE"}) {
    const char* value = getenv(name);
    saved_.push_back({name, value != nullptr, value ? value : ""});
  }
  setenv("LANG", lang, 1);
  setenv("LC_MESSAGES", messages, 1);
  setenv("LC_ALL", all, 1);
  unsetenv("LC_CTYPE");
}

ScopedLocaleVariables::~ScopedLocaleVariables() {
  for (const Saved& variable : saved_) {
    if (variable.set) {
      setenv(variable.name, variable.value.c_str(), 1);
    } else {
      unsetenv(variable.name);
    }
  }
}

#endif

}  // namespace testing_support
