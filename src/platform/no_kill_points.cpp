// The shipped Windows programs: no step can be killed or held from outside.
#include "platform/kill_points.h"

const char* KillPointName(KillPoint) { return ""; }

void AtKillPoint(KillPoint, const std::string&) {}
