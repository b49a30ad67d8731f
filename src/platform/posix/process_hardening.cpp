#include "platform/process_hardening.h"

void HardenProcess() {}
