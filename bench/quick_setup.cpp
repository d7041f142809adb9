// The SETUP.EXE of the benchmark's packages. It appends to the file named by
// KESTRUNE_BENCH_LOG the performance counter as it read it first thing
// ("started N": the moment its own code began to run, which the driver
// compares with the moment it started the launcher or the bootstrapper; the
// counter is one for the whole system), its command line and, when
// payload\random.bin lies in its current directory (the package's folder),
// that file's size, so that the driver can check that every run reached it
// after a whole extraction; then it exits. A GUI program with no C runtime,
// like the launcher, so that it starts as fast as a program can.
#include <windows.h>

namespace {

void append(HANDLE file, const char* text) {
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
}

// Decimal digits of `value`, written into the end of `buffer`.
const char* decimal(unsigned long long value, char (&buffer)[24]) {
    char* at = buffer + sizeof buffer - 1;
    *at = 0;
    do {
        *--at = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return at;
}

}  // namespace

extern "C" void quickSetupStart() {
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    char logPath[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("KESTRUNE_BENCH_LOG", logPath, sizeof logPath);
    if (length > 0 && length < sizeof logPath) {
        const HANDLE log = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (log != INVALID_HANDLE_VALUE) {
            char digits[24];
            append(log, "started ");
            append(log, decimal(static_cast<unsigned long long>(started.QuadPart), digits));
            append(log, "\r\n");
            append(log, GetCommandLineA());
            append(log, "\r\n");
            WIN32_FILE_ATTRIBUTE_DATA payload;
            if (GetFileAttributesExA("payload\\random.bin", GetFileExInfoStandard, &payload)) {
                append(log, "payload ");
                append(log,
                       decimal((static_cast<unsigned long long>(payload.nFileSizeHigh) << 32) | payload.nFileSizeLow,
                               digits));
                append(log, "\r\n");
            }
            CloseHandle(log);
        }
    }
    ExitProcess(0);
}
