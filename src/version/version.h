// The rule that decides whether a manual version may replace the installed
// one. Versions are decimal numbers separated by dots, compared number by
// number from the left.
#pragma once

#include <string>

// The exact value of one version component: any number of digits, with a
// sign. Two components compare by value, never by a wrapped 32-bit value.
struct VersionNumber {
  bool negative = false;
  std::string digits;  // without leading zeros; empty for 0

  int Compare(const VersionNumber& other) const;
  bool operator==(const VersionNumber& other) const { return Compare(other) == 0; }
  bool operator>(const VersionNumber& other) const { return Compare(other) > 0; }
};

// Reads the leading number of text as "%d" would: leading white space, one
// optional sign, decimal digits up to the first other character; 0 when no
// digit is found.
VersionNumber ParseVersionNumber(const std::string& text);

// Removes the leading component and its dot from text and returns the
// component's value. The dot is searched character by character in the ANSI
// code page.
VersionNumber TakeVersionComponent(std::string& text);

// True when newVersion may replace installedVersion: the first component
// that differs decides, a missing component reads 0, and a new version that
// ends first with every component equal is allowed when the installed one
// has components left. Equal versions are allowed only when refuseEqual is 0.
bool IsUpdateAllowed(const std::string& newVersion, const std::string& installedVersion,
                     int refuseEqual);
