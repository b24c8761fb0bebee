// Where the program's own file is.
#pragma once

#include <string>
#include <string_view>

// The program file as the kernel knows it (/proc/self/exe); empty when it
// cannot be read.
std::string ownProgramFile();

// The program file from a command line, for systems that give only that: a
// leading double quote is dropped together with everything from the last
// double quote on, and ".exe" is appended when no spelling of it occurs.
std::string programPathFromCommandLine(std::string_view commandLine);
