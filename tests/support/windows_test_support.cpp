#include "windows_test_support.h"

#include <windows.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "test_paths.h"

namespace testing_support {

std::string launcherPath() { return windowsPathOf(kestruneLauncherFile); }
std::string testChildPath() { return windowsPathOf(kestruneTestChildFile); }
std::string extractorPath() { return windowsPathOf(kestruneExtractorFile); }
std::string dllSearchProbePath() { return windowsPathOf(kestruneDllSearchProbeFile); }
std::string foreignBoxPath() { return windowsPathOf(kestruneForeignBoxFile); }
std::string fixturePath(const std::string& name) { return windowsPathOf(kestruneFixtureDirectory) + "\\" + name; }
std::string packagePassword() { return readFile(windowsPathOf(kestrunePasswordFile)); }

void makeDirectory(const std::string& path) { std::filesystem::create_directories(path); }

void removeTree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string makeScratchDirectory(const std::string& name) {
    const std::string path = std::string(scratchRoot) + "\\" + name;
    removeTree(path);
    makeDirectory(path);
    return path;
}

bool pathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void copyFile(const std::string& from, const std::string& to) { CopyFileA(from.c_str(), to.c_str(), FALSE); }

std::string currentDirectory() {
    char directory[MAX_PATH * 2] = "";
    GetCurrentDirectoryA(sizeof directory, directory);
    return directory;
}

bool runningUnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

StartedProcess::StartedProcess(const std::string& commandLine, const std::string& directory) {
    std::string command = commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                       directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
        CloseHandle(process.hThread);
        process_ = process.hProcess;
    }
}

StartedProcess::~StartedProcess() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

unsigned long StartedProcess::waitForExit(unsigned long milliseconds) {
    DWORD exitCode = STILL_ACTIVE;
    if (process_ != nullptr && WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process_, &exitCode);
    }
    return exitCode;
}

void** importSlot(const char* dll, const char* function) {
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    const auto* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); module->Name != 0;
         ++module) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + module->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                return reinterpret_cast<void**>(&slots->u1.Function);
            }
        }
    }
    return nullptr;
}

void* replaceImport(void** slot, void* replacement) {
    DWORD old = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
    void* previous = *slot;
    *slot = replacement;
    VirtualProtect(slot, sizeof *slot, old, &old);
    return previous;
}

bool waitForPath(const std::string& path, unsigned long milliseconds) {
    const DWORD start = GetTickCount();
    while (!pathExists(path)) {
        if (GetTickCount() - start >= milliseconds) return false;
        Sleep(20);
    }
    return true;
}

std::vector<ChildRun> readChildLog(const std::string& path) {
    std::vector<ChildRun> runs;
    std::istringstream lines(readFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t colon = line.find(": ");
        if (line.rfind("run: ", 0) == 0) runs.emplace_back();
        if (runs.empty() || colon == std::string::npos) continue;
        runs.back()[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return runs;
}

}  // namespace testing_support
