// Registry calls of the stand-in layer, over the hive file (hive_file.h).
// Only HKEY_LOCAL_MACHINE exists. An open key is a heap object that holds
// the key's path and the access it was opened with; every call reads the
// hive afresh, so handles see what other processes wrote.
#include <string.h>

#include <mutex>
#include <set>

#include "hive_file.h"
#include "standin_internal.h"

namespace {

using standin::Hive;
using standin::HiveKey;
using standin::HiveValue;

struct OpenKey {
  std::string path;
  REGSAM access = 0;
};

// Rights that only a user who may write the hive gets.
constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE |
                                WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

REGSAM MapGenericRights(REGSAM access) {
  if (access & GENERIC_READ) access |= KEY_READ;
  if (access & GENERIC_WRITE) access |= KEY_WRITE;
  if (access & GENERIC_ALL) access |= KEY_ALL_ACCESS;
  return access;
}

std::mutex handlesMutex;

std::set<OpenKey*>& OpenKeys() {
  static std::set<OpenKey*> keys;
  return keys;
}

// Copies what a handle stands for into found; false for a handle that is
// not open.
bool LookUp(HKEY key, OpenKey& found) {
  if (key == HKEY_LOCAL_MACHINE) {
    found = OpenKey{"", static_cast<REGSAM>(standin::CanWriteHive() ? KEY_ALL_ACCESS : KEY_READ)};
    return true;
  }
  std::lock_guard<std::mutex> lock(handlesMutex);
  auto* open = reinterpret_cast<OpenKey*>(key);
  if (!OpenKeys().count(open)) return false;
  found = *open;
  return true;
}

HKEY NewHandle(const std::string& path, REGSAM access) {
  auto* open = new OpenKey{path, access};
  std::lock_guard<std::mutex> lock(handlesMutex);
  OpenKeys().insert(open);
  return reinterpret_cast<HKEY>(open);
}

// The path of parent's subKey, what parent stands for, and the hive as it
// is now: the common start of opening and creating a key.
LONG Resolve(HKEY parent, LPCSTR subKey, PHKEY result, OpenKey& parentKey, std::string& path,
             Hive& hive) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (!LookUp(parent, parentKey)) return ERROR_INVALID_HANDLE;
  const std::string relative = subKey ? subKey : "";
  if (!standin::IsStorableName(relative)) return ERROR_INVALID_PARAMETER;
  path = standin::NormalizeKeyPath(parentKey.path + "\\" + relative);
  return standin::LoadHive(hive);
}

}  // namespace

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  OpenKey parent;
  std::string path;
  Hive hive;
  LONG error = Resolve(key, subKey, result, parent, path, hive);
  if (error != ERROR_SUCCESS) return error;
  if (!hive.FindKey(path)) return ERROR_FILE_NOT_FOUND;
  access = MapGenericRights(access);
  if ((access & kWriteRights) && !standin::CanWriteHive()) return ERROR_ACCESS_DENIED;
  *result = NewHandle(path, access);
  return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access,
                            LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  OpenKey parent;
  std::string path;
  Hive hive;
  LONG error = Resolve(key, subKey, result, parent, path, hive);
  if (error != ERROR_SUCCESS) return error;
  access = MapGenericRights(access);
  const bool exists = hive.FindKey(path) != nullptr;
  if ((!exists || (access & kWriteRights)) && !standin::CanWriteHive()) {
    return ERROR_ACCESS_DENIED;
  }
  bool created = false;
  if (!exists) {
    if (!(parent.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    error = standin::ChangeHive([&](Hive& current, bool& changed) {
      current.CreateKey(path, &created);
      changed = created;
      return ERROR_SUCCESS;
    });
    if (error != ERROR_SUCCESS) return error;
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(path, access);
  return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                             LPDWORD size) {
  OpenKey open;
  if (!LookUp(key, open)) return ERROR_INVALID_HANDLE;
  if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (data && !size) return ERROR_INVALID_PARAMETER;
  Hive hive;
  LONG error = standin::LoadHive(hive);
  if (error != ERROR_SUCCESS) return error;
  const HiveKey* found = hive.FindKey(open.path);
  if (!found) return ERROR_KEY_DELETED;
  const HiveValue* value = found->FindValue(valueName ? valueName : "");
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (type) *type = value->type;
  const auto needed = static_cast<DWORD>(value->data.size());
  if (data && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data) memcpy(data, value->data.data(), needed);
  if (size) *size = needed;
  return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                           DWORD size) {
  OpenKey open;
  if (!LookUp(key, open)) return ERROR_INVALID_HANDLE;
  if (!(open.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  const std::string name = valueName ? valueName : "";
  if ((!data && size) || !standin::IsStorableName(name)) return ERROR_INVALID_PARAMETER;
  const std::string bytes = data ? std::string(reinterpret_cast<const char*>(data), size) : "";
  return standin::ChangeHive([&](Hive& hive, bool& changed) {
    HiveKey* found = hive.FindKey(open.path);
    if (!found) return ERROR_KEY_DELETED;
    changed = found->SetValue(name, type, bytes);
    return ERROR_SUCCESS;
  });
}

LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName) {
  OpenKey open;
  if (!LookUp(key, open)) return ERROR_INVALID_HANDLE;
  if (!(open.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  const std::string name = valueName ? valueName : "";
  return standin::ChangeHive([&](Hive& hive, bool& changed) {
    HiveKey* found = hive.FindKey(open.path);
    if (!found) return ERROR_KEY_DELETED;
    changed = found->DeleteValue(name);
    return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

// Every change of the hive file is already on the disk when the call that
// made it returns (the file is flushed before it replaces the old one, and
// the folder after).
LONG WINAPI RegFlushKey(HKEY key) {
  OpenKey open;
  return LookUp(key, open) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// Handles open on the key stay open; what they do then fails with
// ERROR_KEY_DELETED, as on Windows.
LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  OpenKey parent;
  if (!LookUp(key, parent)) return ERROR_INVALID_HANDLE;
  const std::string relative = subKey ? subKey : "";
  if (!standin::IsStorableName(relative)) return ERROR_INVALID_PARAMETER;
  if (!standin::CanWriteHive()) return ERROR_ACCESS_DENIED;
  const std::string path = standin::NormalizeKeyPath(parent.path + "\\" + relative);
  return standin::ChangeHive([&](Hive& hive, bool& changed) {
    const LONG deleted = hive.DeleteKey(path);
    changed = deleted == ERROR_SUCCESS;
    return deleted;
  });
}

LONG WINAPI RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD size) {
  OpenKey open;
  if (!LookUp(key, open)) return ERROR_INVALID_HANDLE;
  Hive hive;
  const LONG loaded = standin::LoadHive(hive);
  if (loaded != ERROR_SUCCESS) return loaded;
  if (!hive.FindKey(open.path)) return ERROR_KEY_DELETED;
  const std::vector<std::string> names = hive.SubkeyNames(open.path);
  if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
  if (names[index].size() + 1 > size) return ERROR_MORE_DATA;
  memcpy(name, names[index].c_str(), names[index].size() + 1);
  return ERROR_SUCCESS;
}

// The counts of subkeys and values; the hive keeps no classes, lengths,
// descriptors or times, which come back as 0.
LONG WINAPI RegQueryInfoKeyA(HKEY key, LPSTR, LPDWORD classLength, LPDWORD, LPDWORD subKeys,
                             LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                             LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                             LPDWORD securityDescriptorSize, PFILETIME lastWriteTime) {
  OpenKey open;
  if (!LookUp(key, open)) return ERROR_INVALID_HANDLE;
  if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  Hive hive;
  const LONG loaded = standin::LoadHive(hive);
  if (loaded != ERROR_SUCCESS) return loaded;
  const HiveKey* found = hive.FindKey(open.path);
  if (!found) return ERROR_KEY_DELETED;
  for (LPDWORD zero : {classLength, maxSubKeyLength, maxClassLength, maxValueNameLength,
                       maxValueLength, securityDescriptorSize}) {
    if (zero) *zero = 0;
  }
  if (lastWriteTime) *lastWriteTime = FILETIME{};
  if (subKeys) *subKeys = static_cast<DWORD>(hive.SubkeyNames(open.path).size());
  if (values) *values = static_cast<DWORD>(found->values.size());
  return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  auto* open = reinterpret_cast<OpenKey*>(key);
  {
    std::lock_guard<std::mutex> lock(handlesMutex);
    if (!OpenKeys().erase(open)) return ERROR_INVALID_HANDLE;
  }
  delete open;
  return ERROR_SUCCESS;
}
