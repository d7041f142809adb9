// Whether a file is a Windows PE executable (what setup.exe and unzip.exe
// must be): an "MZ" header whose e_lfanew field points at a "PE\0\0"
// signature, followed by a file header that marks an executable image and
// not a DLL.
#pragma once

#include <cstddef>
#include <string>

// The PE layout that both this check and the signature code (authenticode.h)
// read: the DOS header's pointer to the "PE\0\0" signature, and the file
// (COFF) header after it.
constexpr size_t peHeaderPointerOffset = 0x3c;
constexpr char peSignature[] = "PE\0\0";
constexpr size_t peSignatureSize = sizeof peSignature - 1;
constexpr size_t coffHeaderSize = 20;

// Why the bytes of a file's start (at least the headers) are not a PE
// executable, or "" when they are one.
std::string peImageProblem(const std::string& start);
// The same for a file; "" when it is a PE executable.
std::string peFileProblem(const std::string& path);
