// The installer's message boxes.
#pragma once

#include <string>

// "The setup was completed." on top of other windows, owned by the console.
void ShowCompletionBox();

// "A later version is already installed...", captioned with the program's name.
void ShowRefusalBox();

// Asks whether destinationPath may be overwritten; true for Yes.
bool AskOverwrite(const std::string& destinationPath);
