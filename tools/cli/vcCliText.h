// Text from files and patterns as the command prints it: a name may hold anything, and a
// terminal must not take it for control sequences.
#pragma once

#include <exception>
#include <string>

// Control characters as \n, \t, \r or \xNN, and bytes that are not UTF-8 as \xNN; everything
// else as it is.
std::string vfPrintable(const std::string& s);

// An exception's message; for one without, its class (and that it said nothing).
std::string vfErrorText(const std::exception& e);
