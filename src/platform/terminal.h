// Standard error as a terminal that a line of progress may be drawn on and
// redrawn in place: natively a tty, on Windows a console.
#pragma once

#include <string>

#include "platform/win32.h"

bool StandardErrorIsTerminal();
bool StandardOutputIsTerminal();
// Its width in columns; 80 when it cannot be told.
int TerminalColumns();
// Writes text to standard error as it is, at once.
void WriteToTerminal(const std::string& text);

// Whether an interactive installer run shows its progress as such a line:
// natively; on Windows its console is hidden, and a window shows it.
bool InstallerDrawsProgressLine();
