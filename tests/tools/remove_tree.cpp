// remove-tree PATH [--swap-at-checks REQUEST_FILE SWAPS]: removes PATH with
// the launcher's work directory removal.
//
// With --swap-at-checks, a helper on the Linux side (links_test.sh) swaps a
// subdirectory of the tree with a link to a directory outside, or back, when
// it finds REQUEST_FILE ("link" or "tree" in it), and then deletes the file.
// This program asks for the swaps at the worst moments: every time the walk
// asks where an entry really is (GetFinalPathNameByHandle, which the walk
// looks up at run time), the subdirectory is put back first, so the check
// sees the tree; right after the check of a file it is swapped for the
// link, so whatever the walk does next with that file by path reaches
// outside. SWAPS requests at most. Links can only be made on the Linux side;
// asking in step with the walk makes every run alike.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "install/work_directory_removal.h"
#include "windows_test_support.h"

namespace {

std::string swapRequest;
long swapsLeft = 0;

void askFor(const char* state) {
    if (swapsLeft <= 0) return;
    --swapsLeft;
    HANDLE request = CreateFileA(swapRequest.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (request == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(request, state, static_cast<DWORD>(std::strlen(state)), &written, nullptr);
    CloseHandle(request);
    // The helper deletes the request once the swap is done.
    for (int i = 0; i < 5000 && GetFileAttributesA(swapRequest.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(1);
}

bool isFile(HANDLE entry) {
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(entry, &information) &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

using FinalPathA = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
using FinalPathW = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
using GetProcAddressCall = FARPROC(WINAPI*)(HMODULE, LPCSTR);
FinalPathA realFinalPathA = nullptr;
FinalPathW realFinalPathW = nullptr;
GetProcAddressCall realGetProcAddress = nullptr;

DWORD WINAPI finalPathThenSwapA(HANDLE file, LPSTR path, DWORD capacity, DWORD flags) {
    askFor("tree");
    const DWORD length = realFinalPathA(file, path, capacity, flags);
    if (isFile(file)) askFor("link");
    return length;
}

DWORD WINAPI finalPathThenSwapW(HANDLE file, LPWSTR path, DWORD capacity, DWORD flags) {
    askFor("tree");
    const DWORD length = realFinalPathW(file, path, capacity, flags);
    if (isFile(file)) askFor("link");
    return length;
}

FARPROC WINAPI lookUpWithSwaps(HMODULE module, LPCSTR name) {
    const FARPROC found = realGetProcAddress(module, name);
    if (found == nullptr || reinterpret_cast<ULONG_PTR>(name) <= 0xFFFF) return found;
    if (std::strcmp(name, "GetFinalPathNameByHandleA") == 0) {
        realFinalPathA = reinterpret_cast<FinalPathA>(reinterpret_cast<void (*)()>(found));
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&finalPathThenSwapA));
    }
    if (std::strcmp(name, "GetFinalPathNameByHandleW") == 0) {
        realFinalPathW = reinterpret_cast<FinalPathW>(reinterpret_cast<void (*)()>(found));
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&finalPathThenSwapW));
    }
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[2], "--swap-at-checks") == 0) {
        swapRequest = argv[3];
        swapsLeft = std::atol(argv[4]);
        void** slot = testing_support::importSlot("kernel32.dll", "GetProcAddress");
        if (slot == nullptr) return 3;
        realGetProcAddress = reinterpret_cast<GetProcAddressCall>(
            testing_support::replaceImport(slot, reinterpret_cast<void*>(&lookUpWithSwaps)));
    } else if (argc != 2) {
        return 2;
    }
    removeWorkDirectory(argv[1]);
    return 0;
}
