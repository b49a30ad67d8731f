// A small JSON reader for the tests of QuorvexKit's reports: the whole
// grammar, strings decoded to UTF-8, numbers kept as doubles.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

struct Json {
  enum class Type { Null, Boolean, Number, String, Array, Object };
  Type type = Type::Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  // The member name of an object; a null value when there is none.
  const Json& operator[](const std::string& name) const;
  bool Has(const std::string& name) const { return members.count(name) != 0; }
  bool IsNull() const { return type == Type::Null; }
};

// Parses document; false with a description in error when it is not one
// JSON value (surrounded by white space only).
bool ParseJson(const std::string& document, Json& value, std::string& error);

}  // namespace testing_support
