// The shipped Windows programs: no step can be killed or held from outside.
#include "platform/kill_points.h"
#include "platform/test_trust.h"

const char* KillPointName(KillPoint) { return ""; }

void AtKillPoint(KillPoint, const std::string&) {}

bool TestBuildTrustsRunningUser() { return false; }

unsigned long ProgressShownAfter() { return 1000; }

unsigned long StallDeadline() { return 60000; }
