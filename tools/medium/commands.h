// The commands of kestrune-medium; each takes the arguments after its name
// and returns an ExitStatus (command_line.h).
#pragma once

#include <string>
#include <vector>

extern const char* const mediumUsageText;

int runBuild(const std::vector<std::string>& arguments);
int runMark(const std::vector<std::string>& arguments);
int runMarkers(const std::vector<std::string>& arguments);
int runCheck(const std::vector<std::string>& arguments);
