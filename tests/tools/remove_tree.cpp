// remove-tree PATH [--swap-at-checks REQUEST_FILE SWAPS]: removes PATH with
// the launcher's work directory removal.
//
// With --swap-at-checks, a helper on the Linux side (links_test.sh) swaps a
// subdirectory of the tree with a link to a directory outside, or back, when
// it finds REQUEST_FILE ("link" or "tree" in it), and then deletes the file.
// This program asks for the swaps at the worst moments: every time the walk
// asks where an entry really is (NtQueryObject for its full name, which the
// walk looks up at run time), the subdirectory is put back first, so the check
// sees the tree; right after the check of a file it is swapped for the
// link, so whatever the walk does next with that file by path reaches
// outside. SWAPS requests at most. Links can only be made on the Linux side;
// asking in step with the walk makes every run alike.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>
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

using QueryObjectCall = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
QueryObjectCall realQueryObject = nullptr;

LONG NTAPI queryObjectThenSwap(HANDLE object, int kind, void* out, ULONG capacity, ULONG* returned) {
    askFor("tree");
    const LONG status = realQueryObject(object, kind, out, capacity, returned);
    if (isFile(object)) askFor("link");
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::unique_ptr<testing_support::ScopedLookUp> swapping;
    if (argc == 5 && std::strcmp(argv[2], "--swap-at-checks") == 0) {
        swapRequest = argv[3];
        swapsLeft = std::atol(argv[4]);
        swapping = std::make_unique<testing_support::ScopedLookUp>("NtQueryObject",
                                                                   reinterpret_cast<void*>(&queryObjectThenSwap));
        if (!swapping->active()) return 3;
        realQueryObject = swapping->original<QueryObjectCall>();
    } else if (argc != 2) {
        return 2;
    }
    removeDirectoryTree(argv[1]);
    return 0;
}
