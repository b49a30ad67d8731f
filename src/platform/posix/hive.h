// The stand-in's local-machine hive in memory, and its text form: the
// REGEDIT4 format that regedit imports and exports.
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Veltrane\Orvinel\Manual\{...}]
//   "en"="100000"
//   @="the default value"
//   "Flags"=dword:0000001f
//   "Blob"=hex(7):61,00,00
//
// Text values escape "\" and '"' with a backslash. Values of other types are
// kept in hex or dword form, and a value read from a file keeps its text
// exactly until it is changed.
#pragma once

#include <string>
#include <vector>

#include "win32_standin.h"

namespace standin {

struct HiveValue {
  std::string name;  // "" for the key's default value
  DWORD type = REG_SZ;
  std::string data;
  std::string source;  // its text after "=" as read from the file; empty once changed
};

struct HiveKey {
  std::string path;  // below HKEY_LOCAL_MACHINE, "" for the root itself
  std::vector<HiveValue> values;

  const HiveValue* FindValue(const std::string& name) const;
  // Returns false when the value already held exactly this type and data.
  bool SetValue(const std::string& name, DWORD type, std::string data);
  bool DeleteValue(const std::string& name);
};

class Hive {
 public:
  Hive();

  // path: components joined by single backslashes, compared without regard
  // to case. "" is the root.
  HiveKey* FindKey(const std::string& path);
  const HiveKey* FindKey(const std::string& path) const;
  // Creates the key and any missing keys above it; existing keys keep the
  // case they are stored with. Sets *created when the key was not there.
  HiveKey& CreateKey(const std::string& path, bool* created = nullptr);

  // Removes the key at path when it has no subkey: ERROR_SUCCESS,
  // ERROR_FILE_NOT_FOUND, or ERROR_ACCESS_DENIED for the root or a key
  // with subkeys (as Windows refuses them).
  LONG DeleteKey(const std::string& path);
  // The names of path's subkeys, in the order they are stored.
  std::vector<std::string> SubkeyNames(const std::string& path) const;

  // Parents come before their children.
  const std::vector<HiveKey>& keys() const { return keys_; }

 private:
  std::vector<HiveKey> keys_;  // keys_[0] is the root
};

// Splits a key path at its separators ("\" that is not the second byte of a
// double-byte character) and joins the non-empty parts with single "\".
std::string NormalizeKeyPath(const std::string& path);

// Whether a key or value name can be written to the hive file: no line
// break, and no lead byte without its second byte at the end.
bool IsStorableName(const std::string& name);

// Key and value names compare like the registry's: letters without regard
// to case; double-byte characters compared whole.
bool SameRegistryName(const std::string& a, const std::string& b);

// Reads a hive file's text into hive. Fails on anything that is not this
// format, leaving hive unspecified.
bool ParseHive(const std::string& text, Hive& hive);
std::string FormatHive(const Hive& hive);

}  // namespace standin
