// What a program that runs elevated sets up before anything else.
#pragma once

// On Windows: DLLs that the system loads on demand come from System32 only,
// never from the program's folder (a Downloads folder may hold anything),
// and, where the system has Redirection Guard (Windows 11 22H2 and later),
// junctions made by non-administrators are not followed. Both are looked up
// at run time, so that the program still starts on systems without them;
// one that cannot be turned on is done without. Nothing elsewhere.
void HardenProcess();
