// The commands of kestrune-medium; each takes the arguments after its name
// and returns an ExitStatus (command_line.h). A new command adds its
// function here and its help and options in usage.cpp.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"

int runBuild(const std::vector<std::string>& arguments);
int runMark(const std::vector<std::string>& arguments);
int runMarkers(const std::vector<std::string>& arguments);
int runCheck(const std::vector<std::string>& arguments);
int runSign(const std::vector<std::string>& arguments);

extern const char* const mediumVersion;
// The names `help` knows, commands and `help` itself, in the order shown.
std::vector<std::string> commandNames();
void printOverview(std::FILE* stream);
// False for a name that is no command.
bool printCommandHelp(const std::string& command, std::FILE* stream);

// -h and --help, which every command takes.
extern const OptionRule shortHelpOption;
extern const OptionRule longHelpOption;

// Parses a command's arguments by the options its help lists (usage.cpp):
// on a wrong command line prints the error (usageError) and sets `status`
// to exitUsage; on -h or --help prints the command's help and sets exitOk.
// True when the command should go on.
bool parseCommand(const char* command, const std::vector<std::string>& arguments, ParsedArguments& parsed, int& status);
// Prints the error and where the command's help is; returns exitUsage.
int usageError(const char* command, const std::string& message);
