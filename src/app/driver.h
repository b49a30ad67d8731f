// One installation run, from the framework's start-up to the exit status.
#pragma once

#include <string>

// Runs the installer with the program's arguments (argv[0] is the program)
// and returns the process exit status.
int RunInstaller(int argc, char** argv);

// The install directory given on the command line: the rest of the first
// argument after argv[0] that starts with "/p", or null when there is none.
const char* FindInstallDirectoryArgument(int argc, char** argv);

enum class InstallDirectorySource { None, Argument, Registration };

// The install directory of a run: the "/p" argument when there is one (even
// an empty one), otherwise the product's uninstall registration. The
// directory is empty when there is none; an empty one is never used.
InstallDirectorySource FindInstallDirectory(int argc, char** argv, const std::string& productGuid,
                                            std::string& directory);

// The line printed when the framework's start-up fails, stored as bytes of
// code page 932 whatever the system's code page.
extern const char kFrameworkFailedMessage[];
