#include "platform/link_target.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "standin_internal.h"

bool ReadLinkText(const std::string& path, std::string& target) {
  char buffer[PATH_MAX];
  const ssize_t length =
      readlink(standin::ToPosixPath(path.c_str()).c_str(), buffer, sizeof buffer);
  if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) return false;
  target.assign(buffer, static_cast<size_t>(length));
  return true;
}

bool FinalPath(const std::string& path, std::string& final) {
  char* resolved = realpath(standin::ToPosixPath(path.c_str()).c_str(), nullptr);
  if (!resolved) return false;
  final = resolved;
  free(resolved);
  return true;
}
