// Writes values into the stand-in hive named by QUORVEX_HKLM, one write at a
// time, and prints the number of every write that has completed.
//
//   hive_writer KEY NAME COUNT          values NAME-1 .. NAME-COUNT, each = its number
//   hive_writer KEY NAME COUNT --same   the value NAME, COUNT times, = the write's number
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "platform/win32.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: hive_writer KEY NAME COUNT [--same]\n");
    return 2;
  }
  const bool sameName = argc > 4 && strcmp(argv[4], "--same") == 0;
  const int count = atoi(argv[3]);
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, argv[1], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return 3;
  }
  int status = 0;
  for (int i = 1; i <= count && status == 0; ++i) {
    const std::string name = sameName ? argv[2] : std::string(argv[2]) + "-" + std::to_string(i);
    const std::string data = std::to_string(i);
    if (RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1)) != ERROR_SUCCESS) {
      status = 4;
    } else {
      printf("%d\n", i);
      fflush(stdout);
    }
  }
  RegCloseKey(key);
  return status;
}
