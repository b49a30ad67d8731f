// The line QuorvexKit shows on standard error while a verb works through a
// large kit or installation: how many files so far, and the last one. Only
// on a terminal, only after a second, never with --quiet, and cleared
// before the report is written.
#pragma once

#include <string>

namespace kit {

void StartProgress(const std::string& verb, bool wanted);
// One more file; path as the verb knows it.
void ProgressFile(const std::string& path);
void EndProgress();

}  // namespace kit
