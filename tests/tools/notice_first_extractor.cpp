// notice-first-extractor: stands in a medium as unzip.exe for the tests that
// count the launcher's progress notice. On a busy machine a package can be
// out before the notice's thread has shown its box; the launcher then closes
// the box as soon as it shows, and a recorder that looks every few
// milliseconds may never see it. This waits (at most 30 s) until the notice
// stands, then runs the real extraction tool, unzip-real.exe beside it, with
// its own arguments, and ends with that tool's exit code.
#include <windows.h>

#include <string>

namespace {

bool noticeStands() {
    const char* const dialogClass = MAKEINTATOM(0x8002);
    for (HWND box = FindWindowExA(nullptr, nullptr, dialogClass, "Varnel Kestrune"); box != nullptr;
         box = FindWindowExA(nullptr, box, dialogClass, "Varnel Kestrune")) {
        char text[64] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        if (std::string(text) == "Copying Files. Please wait.") return true;
    }
    return false;
}

// The command line after its first token, the program's own name.
const char* argumentsOf(const char* commandLine) {
    const char* at = commandLine;
    while (*at == ' ' || *at == '\t') ++at;
    if (*at == '"') {
        ++at;
        while (*at != 0 && *at != '"') ++at;
        if (*at == '"') ++at;
    } else {
        while (*at != 0 && *at != ' ' && *at != '\t') ++at;
    }
    return at;
}

}  // namespace

int main() {
    for (int i = 0; i < 3000 && !noticeStands(); ++i) Sleep(10);
    char program[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, program, sizeof program);
    std::string real = program;
    real = real.substr(0, real.rfind('\\') + 1) + "unzip-real.exe";
    std::string command = "\"" + real + "\"" + argumentsOf(GetCommandLineA());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(real.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return 90;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 91;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
