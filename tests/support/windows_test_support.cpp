#include "windows_test_support.h"

#include <windows.h>
#include <sddl.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "box_recorder.h"
#include "test_paths.h"

namespace testing_support {

std::string launcherPath() { return windowsPathOf(kestruneLauncherFile); }
std::string testChildPath() { return windowsPathOf(kestruneTestChildFile); }
std::string extractorPath() { return windowsPathOf(kestruneExtractorFile); }
std::string dllSearchProbePath() { return windowsPathOf(kestruneDllSearchProbeFile); }
std::string foreignBoxPath() { return windowsPathOf(kestruneForeignBoxFile); }
std::string swapperPath() { return windowsPathOf(kestruneSwapperFile); }
std::string noticeFirstExtractorPath() { return windowsPathOf(kestruneNoticeFirstExtractorFile); }
std::string fixturePath(const std::string& name) { return windowsPathOf(kestruneFixtureDirectory) + "\\" + name; }
std::string packagePassword() { return readFile(windowsPathOf(kestrunePasswordFile)); }

void makeDirectory(const std::string& path) { std::filesystem::create_directories(path); }

namespace {
// Through the \\?\ form, so that trees deeper than any short path go too,
// and names the file system's own rules would refuse (Wine takes "a:").
void removeWideTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = path + L"\\" + name;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                DeleteFileW(full.c_str());
            } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                removeWideTree(full);
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}
}  // namespace

void removeTree(const std::string& path) {
    if (path.empty()) return;
    std::wstring wide = L"\\\\?\\";
    for (unsigned char c : path) wide += static_cast<wchar_t>(c);
    removeWideTree(wide);
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
    PROCESS_INFORMATION process = {};
    if (startProgram(commandLine, directory.empty() ? nullptr : directory.c_str(), &process) == 0) {
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

namespace {

struct LookUpReplacement {
    const char* name;
    void* replacement;
};
constexpr size_t lookUpReplacementCapacity = 8;
LookUpReplacement lookUpReplacements[lookUpReplacementCapacity];
size_t lookUpReplacementCount = 0;
using GetProcAddressCall = FARPROC(WINAPI*)(HMODULE, LPCSTR);
GetProcAddressCall realGetProcAddress = nullptr;

FARPROC WINAPI replacingGetProcAddress(HMODULE module, LPCSTR name) {
    if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF) {
        for (size_t i = 0; i < lookUpReplacementCount; ++i) {
            if (std::strcmp(name, lookUpReplacements[i].name) == 0) {
                return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(lookUpReplacements[i].replacement));
            }
        }
    }
    return realGetProcAddress(module, name);
}

}  // namespace

ScopedLookUp::ScopedLookUp(const char* name, void* replacement) {
    void** slot = importSlot("kernel32.dll", "GetProcAddress");
    if (slot == nullptr || lookUpReplacementCount == lookUpReplacementCapacity) return;
    if (lookUpReplacementCount == 0) {
        realGetProcAddress = reinterpret_cast<GetProcAddressCall>(
            replaceImport(slot, reinterpret_cast<void*>(&replacingGetProcAddress)));
    }
    for (const char* module : {"ntdll.dll", "kernel32.dll", "advapi32.dll"}) {
        if (original_ == nullptr) {
            original_ = reinterpret_cast<void*>(realGetProcAddress(GetModuleHandleA(module), name));
        }
    }
    lookUpReplacements[lookUpReplacementCount++] = {name, replacement};
    active_ = true;
}

ScopedLookUp::~ScopedLookUp() {
    if (!active_) return;
    --lookUpReplacementCount;
    if (lookUpReplacementCount == 0) {
        replaceImport(importSlot("kernel32.dll", "GetProcAddress"), reinterpret_cast<void*>(realGetProcAddress));
    }
}

bool letEveryoneChange(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;OICI;FA;;;SY)(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return false;
    }
    const bool set = SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor) != FALSE;
    LocalFree(descriptor);
    return set;
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
