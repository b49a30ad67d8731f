// The test-only build: QUORVEX_FAULT_DPI_LOOKUP hides the newer DPI calls.
#include <stdlib.h>
#include <string.h>

#include "platform/win32/dpi_calls.h"

DpiLookupFault TestBuildDpiLookupFault() {
  const char* value = getenv("QUORVEX_FAULT_DPI_LOOKUP");
  if (!value) return DpiLookupFault::None;
  if (strcmp(value, "1") == 0) return DpiLookupFault::NoWindowDpi;
  if (strcmp(value, "2") == 0) return DpiLookupFault::NoMonitorDpi;
  return DpiLookupFault::None;
}
