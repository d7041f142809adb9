#include "pe_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "file_io.h"
#include "little_endian.h"

namespace {

constexpr size_t dosHeaderSize = 64;
constexpr size_t characteristicsOffset = 18;  // within the file header
constexpr uint16_t executableImage = 0x0002;
constexpr uint16_t dynamicLibrary = 0x2000;
// Linkers put the PE header within the first few hundred bytes; a pointer
// beyond this is taken as damage rather than read.
constexpr uint32_t largestHeaderOffset = 1 << 20;

}  // namespace

std::string peImageProblem(const std::string& start) {
    if (start.size() < 2 || start.compare(0, 2, "MZ") != 0) return "no \"MZ\" header";
    if (start.size() < dosHeaderSize) return "too short for a DOS header";
    const uint32_t peOffset = readLittle32(start, peHeaderPointerOffset);
    if (peOffset > largestHeaderOffset || peOffset + peSignatureSize + coffHeaderSize > start.size()) {
        return "the PE header pointer leads outside the file";
    }
    if (start.compare(peOffset, peSignatureSize, std::string(peSignature, peSignatureSize)) != 0)
        return "no PE signature";
    const uint32_t characteristics = readLittle16(start, peOffset + peSignatureSize + characteristicsOffset);
    if ((characteristics & dynamicLibrary) != 0) return "a DLL, not a program";
    if ((characteristics & executableImage) == 0) return "not marked as an executable image";
    return "";
}

std::string peFileProblem(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "cannot be read: " + systemErrorText(errno);
    // Enough for any header that peImageProblem accepts.
    std::string start(largestHeaderOffset + peSignatureSize + coffHeaderSize, '\0');
    size_t got = 0;
    bool failed = false;
    while (got < start.size()) {
        const ssize_t n = pread(fd, &start[got], start.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = true;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    const int readError = errno;
    close(fd);
    if (failed) return "cannot be read: " + systemErrorText(readError);
    start.resize(got);
    return peImageProblem(start);
}
