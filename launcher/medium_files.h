// The files a distribution medium and its package are made of, named once for
// the launcher (install/commands.cpp), the extraction tool (tools/unzip) and
// the medium builder (tools/medium). Arrays, not pointers: no relocation in
// the launcher, and sizeof gives a name's length at compile time.
#pragma once

// Beside each other on the medium.
inline constexpr char launcherFileName[] = "setup.exe";
inline constexpr char extractorFileName[] = "unzip.exe";
inline constexpr char packageFileName[] = "package.zip";

// At the root of the package, run from the work directory in this order.
inline constexpr char setupProgramName[] = "SETUP.EXE";
inline constexpr char scriptFileName[] = "PostProcess.cmd";

// unzip.exe writes each file under its final name with this appended, and
// renames it only once it is whole.
inline constexpr char partFileSuffix[] = ".kestrune-part";
