#include "platform/file_owner.h"

#include <sys/stat.h>

#include "standin_internal.h"
#include "trusted_path.h"

bool HasTrustedOwner(HANDLE file, bool) {
  struct stat status;
  return fstat(standin::DescriptorOf(file), &status) == 0 && standin::IsTrustedOwner(status.st_uid);
}
