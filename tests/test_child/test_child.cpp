// A stand-in child program for the launcher's tests. It appends to a log what
// it was given, so a test can check exactly how it was started:
//   test-child [--log FILE] [--sleep MS] [--exit CODE] [--write-handle N] [anything else]
// The log file and exit code may also come from the environment
// (KESTRUNE_CHILD_LOG, KESTRUNE_CHILD_EXIT, KESTRUNE_CHILD_SLEEP), for runs
// in which the launcher decides the command line, as with SETUP.EXE.
// KESTRUNE_CHILD_NOTICE_WAIT gives the launcher's notice that many
// milliseconds to show before "noticeStanding" is logged. "parentModules"
// lists the DLLs loaded in the process that started it (the launcher, which
// waits for it), in lower case. "priorityClass" and "errorMode" are the
// process's own; with --write-handle, "handleWritten" says whether the handle
// value N, as inherited from the process that started it, could be written to.
// "programBytes" is the size of its own file. What an installer may leave in its current directory, each asked for in
// the environment: KESTRUNE_CHILD_READ_ONLY names a read-only file to write;
// KESTRUNE_CHILD_DEEP a length that a chain of folders below it (made through
// the \\?\ form) reaches beyond; KESTRUNE_CHILD_HELPER that many
// milliseconds for which a helper (this program, --helper MS, which logs
// nothing) outlives it, in the same current directory, holding a file there
// open without sharing.
#include <windows.h>
#include <tlhelp32.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string environmentValue(const char* name) {
    char value[1024] = "";
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? value : "";
}

bool noticeStanding(DWORD waitMilliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (FindWindowA(MAKEINTATOM(0x8002), "Varnel Kestrune") != nullptr) return true;
        if (GetTickCount() - start >= waitMilliseconds) return false;
        Sleep(20);
    }
}

// The DLLs of the process that started this one, lower case, each followed
// by a blank.
std::string parentModules() {
    const DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes == INVALID_HANDLE_VALUE) return "";
    PROCESSENTRY32 process = {};
    process.dwSize = sizeof process;
    for (BOOL more = Process32First(processes, &process); more; more = Process32Next(processes, &process)) {
        if (process.th32ProcessID == self) parent = process.th32ParentProcessID;
    }
    CloseHandle(processes);
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, parent);
    if (parent == 0 || modules == INVALID_HANDLE_VALUE) return "";
    std::string list;
    MODULEENTRY32 module = {};
    module.dwSize = sizeof module;
    for (BOOL more = Module32First(modules, &module); more; more = Module32Next(modules, &module)) {
        for (const char* c = module.szModule; *c != 0; ++c) list += static_cast<char>(std::tolower(*c));
        list += ' ';
    }
    CloseHandle(modules);
    return list;
}

// The error mode, read back through the call that every system has.
unsigned errorMode() {
    const UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    return mode;
}

// Writes through handle value `text`: only a handle handed down by the
// parent names the parent's file; anything else fails or writes elsewhere.
bool writeThroughHandle(const std::string& text) {
    const auto handle = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(std::strtoull(text.c_str(), nullptr, 10)));
    DWORD written = 0;
    return WriteFile(handle, "inherited", 9, &written, nullptr) && written == 9;
}

// The size of this program's own file: a copy with bytes appended (an
// attacker's) tells itself apart from the package's.
unsigned long programBytes(const char* program) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(program, GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

void writeReadOnlyFile(const std::string& name) {
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

void makeDeepChain(size_t length) {
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof directory, directory);
    std::wstring path = L"\\\\?\\";
    for (const char* c = directory; *c != 0; ++c) path += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    const size_t start = path.size();
    while (path.size() - start < length) {
        path += L"\\deep-folder-of-twenty";
        CreateDirectoryW(path.c_str(), nullptr);
    }
    HANDLE file = CreateFileW((path + L"\\bottom.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// Starts this program as a helper that outlives this run, from the same
// current directory, without waiting for it.
void startHelper(const std::string& milliseconds) {
    char program[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, program, sizeof program);
    std::string command = "\"" + std::string(program) + "\" --helper " + milliseconds;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION helper = {};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &helper)) {
        CloseHandle(helper.hThread);
        CloseHandle(helper.hProcess);
    }
}

int runHelper(const char* milliseconds) {
    HANDLE held = CreateFileA("helper.lock", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    Sleep(static_cast<DWORD>(std::strtoul(milliseconds, nullptr, 10)));
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--helper") == 0) return runHelper(argv[2]);
    std::string logPath = environmentValue("KESTRUNE_CHILD_LOG");
    std::string exitText = environmentValue("KESTRUNE_CHILD_EXIT");
    std::string sleepText = environmentValue("KESTRUNE_CHILD_SLEEP");
    std::string handleText;
    const DWORD noticeWait =
        static_cast<DWORD>(std::strtoul(environmentValue("KESTRUNE_CHILD_NOTICE_WAIT").c_str(), nullptr, 10));
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--log") == 0)
            logPath = argv[++i];
        else if (std::strcmp(argv[i], "--exit") == 0)
            exitText = argv[++i];
        else if (std::strcmp(argv[i], "--sleep") == 0)
            sleepText = argv[++i];
        else if (std::strcmp(argv[i], "--write-handle") == 0)
            handleText = argv[++i];
    }
    // Before this program opens anything that could take the handle's value.
    const bool handleWritten = !handleText.empty() && writeThroughHandle(handleText);

    char program[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, program, sizeof program);
    char directory[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof directory, directory);
    char consoleTitle[1024] = "";
    GetConsoleTitleA(consoleTitle, sizeof consoleTitle);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);

    if (!logPath.empty()) {
        FILE* log = std::fopen(logPath.c_str(), "a");
        if (log != nullptr) {
            std::fprintf(log, "run: %s\n", program);
            std::fprintf(log, "programBytes: %lu\n", programBytes(program));
            std::fprintf(log, "commandLine: %s\n", GetCommandLineA());
            std::fprintf(log, "currentDirectory: %s\n", directory);
            std::fprintf(log, "consoleTitle: %s\n", consoleTitle);
            std::fprintf(log, "startupTitle: %s\n", startup.lpTitle != nullptr ? startup.lpTitle : "");
            std::fprintf(log, "startupFlags: %lu\n", static_cast<unsigned long>(startup.dwFlags));
            std::fprintf(log, "showWindow: %u\n", static_cast<unsigned>(startup.wShowWindow));
            std::fprintf(log, "noticeStanding: %d\n", noticeStanding(noticeWait) ? 1 : 0);
            std::fprintf(log, "parentModules: %s\n", parentModules().c_str());
            std::fprintf(log, "priorityClass: %lu\n",
                         static_cast<unsigned long>(GetPriorityClass(GetCurrentProcess())));
            std::fprintf(log, "errorMode: %u\n", errorMode());
            if (!handleText.empty()) std::fprintf(log, "handleWritten: %d\n", handleWritten ? 1 : 0);
            std::fprintf(log, "end\n");
            std::fclose(log);
        }
    }
    const std::string readOnly = environmentValue("KESTRUNE_CHILD_READ_ONLY");
    if (!readOnly.empty()) writeReadOnlyFile(readOnly);
    const std::string deep = environmentValue("KESTRUNE_CHILD_DEEP");
    if (!deep.empty()) makeDeepChain(std::strtoul(deep.c_str(), nullptr, 10));
    const std::string helper = environmentValue("KESTRUNE_CHILD_HELPER");
    if (!helper.empty()) startHelper(helper);
    if (!sleepText.empty()) {
        Sleep(static_cast<DWORD>(std::strtoul(sleepText.c_str(), nullptr, 10)));
        // Lets a test see that a child it stopped waiting for ran on.
        FILE* log = logPath.empty() ? nullptr : std::fopen(logPath.c_str(), "a");
        if (log != nullptr) {
            std::fprintf(log, "finished: %s\n", program);
            std::fclose(log);
        }
    }
    return exitText.empty() ? 0 : std::atoi(exitText.c_str());
}
