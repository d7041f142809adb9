#include "launcher/system_functions.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "test_paths.h"
#include "windows_test_support.h"

using namespace testing_support;

namespace {

unsigned long runProbe(const std::string& mode) {
    std::string command = "\"" + dllSearchProbePath() + "\" " + mode;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION probe = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &probe)) {
        return 99;
    }
    WaitForSingleObject(probe.hProcess, 60000);
    DWORD exitCode = 98;
    GetExitCodeProcess(probe.hProcess, &exitCode);
    CloseHandle(probe.hThread);
    CloseHandle(probe.hProcess);
    return exitCode;
}

// The probe stands beside a DLL that any program there would load by name,
// as a DLL planted beside setup.exe on a medium would be.
TEST(DllSearch, AfterStartUpNoDllIsLoadedFromTheProgramsFolder) {
    EXPECT_EQ(runProbe("unrestricted"), 1u) << "without the restriction the planted DLL loads";
    EXPECT_EQ(runProbe("restricted"), 0u);
}

// Where the platform cannot take the program's folder out of the search,
// a name alone would still find a user32.dll planted there.
TEST(DllSearch, User32IsLoadedByItsFullPathInTheSystemDirectory) { EXPECT_EQ(runProbe("user32"), 1u); }

TEST(DllSearch, FunctionsAreLookedUpOnlyInLoadedSystemDlls) {
    EXPECT_NE(lookUpSystemFunction("kernel32.dll", "GetFinalPathNameByHandleW"), nullptr);
    EXPECT_EQ(lookUpSystemFunction("kernel32.dll", "NoSuchFunctionAnywhere"), nullptr);
    EXPECT_EQ(lookUpSystemFunction("kestrune-not-loaded.dll", "Anything"), nullptr);
}

}  // namespace
