// The file names a medium is made of, as the launcher uses them. The launcher
// composes "P\unzip.exe", "P\package.zip", "W\SETUP.EXE" and
// "W\PostProcess.cmd" (install/commands.cpp); launch_plan_test checks that
// these names agree with what that code composes.
#pragma once

constexpr const char* launcherFileName = "setup.exe";
constexpr const char* extractorFileName = "unzip.exe";
constexpr const char* packageFileName = "package.zip";
constexpr const char* setupProgramName = "SETUP.EXE";
constexpr const char* scriptFileName = "PostProcess.cmd";

// A medium folder may also hold this, which starts setup.exe when the
// medium is inserted.
constexpr const char* autorunFileName = "autorun.inf";
// Everything a medium folder holds; `build --force` replaces only a folder
// that holds these files and nothing else.
constexpr const char* const mediumFolderNames[] = {launcherFileName, extractorFileName, packageFileName,
                                                   autorunFileName};
