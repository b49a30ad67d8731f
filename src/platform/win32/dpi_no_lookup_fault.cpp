// The shipped programs: the DPI calls are always those of the system.
#include "platform/win32/dpi_calls.h"

DpiLookupFault TestBuildDpiLookupFault() { return DpiLookupFault::None; }
