#include "support/json.h"

#include <stdlib.h>

#include "text/text_encoding.h"

namespace testing_support {

namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  bool Document(Json& value, std::string& error) {
    const bool ok = Value(value, 0) && (SkipSpace(), position_ == text_.size());
    if (!ok) error = "not JSON at byte " + std::to_string(position_) + ": " + text_.substr(position_, 40);
    return ok;
  }

 private:
  void SkipSpace() {
    while (position_ < text_.size() && (text_[position_] == ' ' || text_[position_] == '\n' ||
                                        text_[position_] == '\r' || text_[position_] == '\t')) {
      ++position_;
    }
  }
  bool Take(char c) {
    SkipSpace();
    if (position_ < text_.size() && text_[position_] == c) {
      ++position_;
      return true;
    }
    return false;
  }
  bool Word(const char* word) {
    const std::string w = word;
    if (text_.compare(position_, w.size(), w) != 0) return false;
    position_ += w.size();
    return true;
  }

  bool Value(Json& value, int depth) {
    if (depth > 64) return false;
    SkipSpace();
    if (position_ >= text_.size()) return false;
    const char c = text_[position_];
    if (c == '{') return Object(value, depth);
    if (c == '[') return Array(value, depth);
    if (c == '"') {
      value.type = Json::Type::String;
      return String(value.text);
    }
    if (Word("true") || Word("false")) {
      value.type = Json::Type::Boolean;
      value.boolean = c == 't';
      return true;
    }
    if (Word("null")) return true;
    return Number(value);
  }

  bool Object(Json& value, int depth) {
    value.type = Json::Type::Object;
    ++position_;
    if (Take('}')) return true;
    do {
      std::string name;
      SkipSpace();
      if (!String(name) || !Take(':')) return false;
      if (!Value(value.members[name], depth + 1)) return false;
    } while (Take(','));
    return Take('}');
  }

  bool Array(Json& value, int depth) {
    value.type = Json::Type::Array;
    ++position_;
    if (Take(']')) return true;
    do {
      value.items.emplace_back();
      if (!Value(value.items.back(), depth + 1)) return false;
    } while (Take(','));
    return Take(']');
  }

  bool Number(Json& value) {
    const char* start = text_.c_str() + position_;
    char* end = nullptr;
    value.number = strtod(start, &end);
    if (end == start) return false;
    value.type = Json::Type::Number;
    position_ += static_cast<size_t>(end - start);
    return true;
  }

  bool Hex4(unsigned long& code) {
    if (position_ + 4 > text_.size()) return false;
    const std::string digits = text_.substr(position_, 4);
    char* end = nullptr;
    code = strtoul(digits.c_str(), &end, 16);
    position_ += 4;
    return end == digits.c_str() + 4;
  }

  bool String(std::string& out) {
    if (position_ >= text_.size() || text_[position_] != '"') return false;
    ++position_;
    while (position_ < text_.size()) {
      const char c = text_[position_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;  // must be escaped
      if (c != '\\') {
        out += c;
        continue;
      }
      if (position_ >= text_.size()) return false;
      const char e = text_[position_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned long code;
          if (!Hex4(code)) return false;
          if (code >= 0xD800 && code <= 0xDBFF && Word("\\u")) {
            unsigned long low;
            if (!Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(static_cast<char32_t>(code), out);
          break;
        }
        default: return false;
      }
    }
    return false;
  }

  const std::string& text_;
  size_t position_ = 0;
};

}  // namespace

const Json& Json::operator[](const std::string& name) const {
  static const Json null;
  auto found = members.find(name);
  return found == members.end() ? null : found->second;
}

bool ParseJson(const std::string& document, Json& value, std::string& error) {
  value = Json();
  return Parser(document).Document(value, error);
}

}  // namespace testing_support
