// The separator that people of this platform read in paths: "\" on Windows,
// "/" elsewhere. The file calls take either.
#pragma once

#ifdef _WIN32
constexpr char kPlatformSeparator = '\\';
#else
constexpr char kPlatformSeparator = '/';
#endif
