#include "platform/process_hardening.h"

void HardenProcess() {}

ProcessHardening ProcessHardeningResult() { return ProcessHardening(); }
