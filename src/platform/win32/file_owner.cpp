#include "platform/file_owner.h"

#include <aclapi.h>

#include "platform/test_trust.h"
#include "platform/win32/link_trust.h"

bool HasTrustedOwner(HANDLE file, bool runningAccountToo) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool trusted =
      WhyOwnerIsNotTrusted(descriptor, runningAccountToo || TestBuildTrustsRunningUser()).empty();
  LocalFree(descriptor);
  return trusted;
}
