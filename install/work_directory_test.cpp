#include "install/work_directory.h"

#include <windows.h>
#include <sddl.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "windows_test_support.h"

using namespace testing_support;

namespace {

// The label list's entries, walked one by one: Wine's text form of a
// descriptor leaves labels out.
std::string labelText(PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    if (!GetSecurityDescriptorSacl(descriptor, &present, &list, &defaulted) || !present || list == nullptr) return "";
    std::string text;
    for (DWORD i = 0; i < list->AceCount; ++i) {
        ACE_HEADER* entry = nullptr;
        if (!GetAce(list, i, reinterpret_cast<void**>(&entry))) return "unreadable";
        const auto* label = reinterpret_cast<const SYSTEM_MANDATORY_LABEL_ACE*>(entry);
        char* sid = nullptr;
        ConvertSidToStringSidA(const_cast<DWORD*>(&label->SidStart), &sid);
        char head[64];
        std::snprintf(head, sizeof head, "(%02x;%02x;%08lx;", entry->AceType, entry->AceFlags,
                      static_cast<unsigned long>(label->Mask));
        text += head + std::string(sid != nullptr ? sid : "?") + ")";
        LocalFree(sid);
    }
    return "S:" + text;
}

// Owner, group and access list in the platform's text form, then the label.
std::string descriptorText(PSECURITY_DESCRIPTOR descriptor) {
    char* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return "unreadable";
    }
    std::string result = text;
    LocalFree(text);
    return result + labelText(descriptor);
}

// Every directory the launcher's code creates while it stands: its name (or
// path) and the descriptor handed over, as text. Through NtCreateFile, which
// the launcher looks up at run time; with `withoutNative`, the launcher finds
// no NtCreateFile and makes its directories with CreateDirectoryA.
struct CreatedDirectory {
    std::string name;
    std::string descriptor;
};
std::vector<CreatedDirectory> createdDirectories;

std::string descriptorGiven(void* descriptor) { return descriptor != nullptr ? descriptorText(descriptor) : "none"; }

using CreateDirectoryCall = BOOL(WINAPI*)(LPCSTR, LPSECURITY_ATTRIBUTES);
using NtCreateFileCall = LONG(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, LARGE_INTEGER*, ULONG,
                                      ULONG, ULONG, ULONG, void*, ULONG);
CreateDirectoryCall realCreateDirectory = nullptr;
NtCreateFileCall realNtCreateFile = nullptr;

BOOL WINAPI recordingCreateDirectory(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
    const BOOL made = realCreateDirectory(path, security);
    if (made) {
        createdDirectories.push_back(
            {path, descriptorGiven(security != nullptr ? security->lpSecurityDescriptor : nullptr)});
    }
    return made;
}

LONG NTAPI recordingNtCreateFile(HANDLE* handle, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes,
                                 IO_STATUS_BLOCK* status, LARGE_INTEGER* size, ULONG fileAttributes, ULONG share,
                                 ULONG disposition, ULONG options, void* extended, ULONG extendedLength) {
    const LONG result = realNtCreateFile(handle, access, attributes, status, size, fileAttributes, share, disposition,
                                         options, extended, extendedLength);
    // FILE_CREATE of a directory (FILE_DIRECTORY_FILE).
    if (result >= 0 && disposition == 2 && (options & 1) != 0) {
        const UNICODE_STRING& name = *attributes->ObjectName;
        createdDirectories.push_back({std::string(name.Buffer, name.Buffer + name.Length / sizeof(wchar_t)),
                                      descriptorGiven(attributes->SecurityDescriptor)});
    }
    return result;
}

class DirectoryCreationRecorder {
public:
    explicit DirectoryCreationRecorder(bool withoutNative)
        : native_("NtCreateFile", withoutNative ? nullptr : reinterpret_cast<void*>(&recordingNtCreateFile)),
          byPath_("kernel32.dll", "CreateDirectoryA", &recordingCreateDirectory) {
        createdDirectories.clear();
        realNtCreateFile = native_.original<NtCreateFileCall>();
        realCreateDirectory = byPath_.original();
    }
    bool active() const { return native_.active() && byPath_.active(); }

private:
    ScopedLookUp native_;
    ScopedImport<CreateDirectoryCall> byPath_;
};

// What the descriptor must say for the user running this test, worked out
// independently of the launcher's code.
std::string expectedDescriptor() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    unsigned char user[256];
    unsigned char label[256];
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, user, sizeof user, &size);
    const bool labelled = GetTokenInformation(token, TokenIntegrityLevel, label, sizeof label, &size);
    CloseHandle(token);
    PSID userSid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
    char* userText = nullptr;
    ConvertSidToStringSidA(userSid, &userText);
    const std::string grants = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + std::string(userText) + ")";
    LocalFree(userText);
    PSID labelSid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label)->Label.Sid;
    const DWORD level = labelled ? *GetSidSubAuthority(labelSid, *GetSidSubAuthorityCount(labelSid) - 1) : 0;
    const bool system = IsWellKnownSid(userSid, WinLocalSystemSid);
    // A mandatory label (0x11), inherited by files and directories (0x03),
    // no write up (0x1), high (S-1-16-12288).
    return grants + (level >= 0x3000 || system ? "S:(11;03;00000001;S-1-16-12288)" : "");
}

class WorkDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = makeScratchDirectory("work-directory-" + testName());
        path_ = root_ + "\\KESTRUNE";
    }
    void TearDown() override {
        for (HANDLE handle : handles_) CloseHandle(handle);
    }
    // Prepares the work directory at `path` (the test's KESTRUNE when empty);
    // the path it ended up with, when it is not the one asked for, goes to
    // `madeAt`.
    WorkDirectoryState prepare(bool temporary, const std::string& path = "", std::string* madeAt = nullptr) {
        char buffer[pathBufferSize] = "";
        std::snprintf(buffer, sizeof buffer, "%s", (path.empty() ? path_ : path).c_str());
        HANDLE hold = INVALID_HANDLE_VALUE;
        const WorkDirectoryState state = prepareWorkDirectory(buffer, temporary, &hold);
        EXPECT_EQ(hold != INVALID_HANDLE_VALUE, state == WorkDirectoryState::ready);
        if (hold != INVALID_HANDLE_VALUE) handles_.push_back(hold);
        if (madeAt != nullptr) *madeAt = buffer;
        return state;
    }
    void releaseAll() {
        for (HANDLE handle : handles_) CloseHandle(handle);
        handles_.clear();
    }
    HANDLE keep(HANDLE handle) {
        handles_.push_back(handle);
        return handle;
    }
    std::string root_, path_;
    std::vector<HANDLE> handles_;
};

// "KESTRUNE." and eight hexadecimal digits beside the asked-for path.
bool isSiblingOf(const std::string& made, const std::string& asked) {
    if (made.size() != asked.size() + 9 || made.compare(0, asked.size(), asked) != 0 || made[asked.size()] != '.') {
        return false;
    }
    return made.find_first_not_of("0123456789ABCDEF", asked.size() + 1) == std::string::npos;
}

TEST_F(WorkDirectory, TheDescriptorBuiltInMemoryIsProtectedGrantsThreeAndIsLabelledWhenElevated) {
    unsigned char descriptor[256];
    ASSERT_GT(buildLauncherDescriptor(descriptor, sizeof descriptor), 0u);
    ASSERT_TRUE(IsValidSecurityDescriptor(descriptor));
    EXPECT_EQ(descriptorText(descriptor), expectedDescriptor());
}

// Wine keeps neither a protected list nor a label on the directory itself,
// so what is checked is the descriptor handed over when it is made: through
// NtCreateFile, or, where that is missing, CreateDirectoryA.
TEST_F(WorkDirectory, EveryDirectoryTheLauncherCreatesIsHandedThatDescriptor) {
    for (const bool withoutNative : {false, true}) {
        const std::string root = makeScratchDirectory(testName() + (withoutNative ? "-by-path" : ""));
        const std::string temporary = root + "\\KESTRUNE";
        const std::string named = root + "\\named";
        const std::string missingParents = root + "\\missing\\parent\\named";
        const std::string existing = makeScratchDirectory(testName() + "-existing");
        DirectoryCreationRecorder recorder(withoutNative);
        ASSERT_TRUE(recorder.active());
        EXPECT_EQ(prepare(true, temporary), WorkDirectoryState::ready) << withoutNative;
        EXPECT_EQ(prepare(false, named), WorkDirectoryState::ready) << withoutNative;
        EXPECT_EQ(prepare(false, missingParents), WorkDirectoryState::ready) << withoutNative;
        EXPECT_EQ(prepare(false, existing), WorkDirectoryState::ready) << withoutNative;
        std::vector<std::string> names;
        for (const CreatedDirectory& created : createdDirectories) {
            names.push_back(created.name);
            EXPECT_EQ(created.descriptor, expectedDescriptor()) << created.name;
        }
        // An existing named directory is not made again.
        const std::vector<std::string> expected =
            withoutNative ? std::vector<std::string>{temporary, named, root + "\\missing", root + "\\missing\\parent",
                                                     missingParents}
                          : std::vector<std::string>{"KESTRUNE", "named", "missing", "parent", "named"};
        EXPECT_EQ(names, expected) << withoutNative;
        for (const std::string& made : {temporary, named, missingParents}) EXPECT_TRUE(pathExists(made)) << made;
        releaseAll();
    }
}

TEST_F(WorkDirectory, AHeldWorkDirectoryCannotBeDeletedRenamedOrTakenByASecondRun) {
    ASSERT_EQ(prepare(true), WorkDirectoryState::ready);
    writeFile(path_ + "\\SETUP.EXE", "extracted");
    EXPECT_FALSE(MoveFileExA(path_.c_str(), (root_ + "\\moved").c_str(), 0));
    EXPECT_FALSE(RemoveDirectoryA(path_.c_str()));
    // A second run leaves it as it is and makes a sibling of its own.
    std::string second;
    EXPECT_EQ(prepare(true, "", &second), WorkDirectoryState::ready);
    EXPECT_TRUE(isSiblingOf(second, path_)) << second;
    EXPECT_EQ(readFile(path_ + "\\SETUP.EXE"), "extracted");
    EXPECT_FALSE(MoveFileExA(second.c_str(), (root_ + "\\moved").c_str(), 0)) << "the sibling is held too";
    // The run's own children still work in it.
    const std::string start = currentDirectory();
    EXPECT_TRUE(SetCurrentDirectoryA(path_.c_str()));
    SetCurrentDirectoryA(start.c_str());
    writeFile(path_ + "\\more.txt", "written by a child");
    EXPECT_TRUE(pathExists(path_ + "\\more.txt"));
}

TEST_F(WorkDirectory, ALeftoverIsEmptiedAndMadeNewOrTheRunMakesASibling) {
    // An ordinary leftover: removed and made anew, empty, at its own name.
    makeDirectory(path_ + "\\old\\deeper");
    writeFile(path_ + "\\old\\deeper\\left-over.txt", "from an earlier run");
    std::string made;
    EXPECT_EQ(prepare(true, "", &made), WorkDirectoryState::ready);
    EXPECT_EQ(made, path_);
    EXPECT_TRUE(std::filesystem::is_empty(path_));
    releaseAll();

    // A planted file held open without delete sharing cannot be removed; a
    // read-only file in a tree this run did not make stays too; a file
    // stands at the name. Each time the run makes a sibling and leaves what
    // stands there alone.
    writeFile(path_ + "\\SETUP.EXE", "planted");
    HANDLE planted =
        CreateFileA((path_ + "\\SETUP.EXE").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(prepare(true, "", &made), WorkDirectoryState::ready);
    EXPECT_TRUE(isSiblingOf(made, path_)) << made;
    EXPECT_EQ(readFile(path_ + "\\SETUP.EXE"), "planted");
    CloseHandle(planted);
    releaseAll();

    const std::string readOnly = path_ + "\\SETUP.EXE";
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(prepare(true, "", &made), WorkDirectoryState::ready);
    EXPECT_TRUE(isSiblingOf(made, path_)) << made;
    EXPECT_TRUE(pathExists(readOnly));
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    releaseAll();

    const std::string file = root_ + "\\FILE";
    writeFile(file, "a file");
    EXPECT_EQ(prepare(true, file, &made), WorkDirectoryState::ready);
    EXPECT_TRUE(isSiblingOf(made, file)) << made;
    EXPECT_EQ(readFile(file), "a file");
}

TEST_F(WorkDirectory, ANamedDirectoryIsMadeWithItsParentsOrUsedOnlyWhenNobodyElseMayChangeIt) {
    const std::string existing = root_ + "\\existing";
    makeDirectory(existing);
    writeFile(existing + "\\mine.txt", "the user's");
    EXPECT_EQ(prepare(false, existing), WorkDirectoryState::ready);
    EXPECT_EQ(readFile(existing + "\\mine.txt"), "the user's");
    EXPECT_EQ(prepare(false, root_ + "\\new"), WorkDirectoryState::ready);
    EXPECT_EQ(prepare(false, root_ + "\\missing\\parents\\made"), WorkDirectoryState::ready);
    EXPECT_TRUE(pathExists(root_ + "\\missing\\parents\\made"));
    EXPECT_EQ(prepare(false, "Q:\\kestrune-no-such-drive\\x"), WorkDirectoryState::notCreated);
    writeFile(root_ + "\\file", "a file");
    EXPECT_EQ(prepare(false, root_ + "\\file"), WorkDirectoryState::notDirectory);
    // Everyone may change it: under Wine its Unix mode lets other users write.
    const std::string open = root_ + "\\open";
    makeDirectory(open);
    ASSERT_TRUE(letEveryoneChange(open));
    EXPECT_EQ(prepare(false, open), WorkDirectoryState::othersMayChange);
}

// The descriptor that decides is the one of the directory the launcher
// holds, read through that handle: not another one found at its path.
using KernelObjectSecurityCall = BOOL(WINAPI*)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD, LPDWORD);
KernelObjectSecurityCall realKernelObjectSecurity = nullptr;
std::vector<HANDLE> securityReadThrough;

BOOL WINAPI recordingKernelObjectSecurity(HANDLE handle, SECURITY_INFORMATION wanted, PSECURITY_DESCRIPTOR descriptor,
                                          DWORD capacity, LPDWORD needed) {
    securityReadThrough.push_back(handle);
    return realKernelObjectSecurity(handle, wanted, descriptor, capacity, needed);
}

TEST_F(WorkDirectory, TheDescriptorOfTheHeldDirectoryIsReadThroughItsHandle) {
    ScopedImport<KernelObjectSecurityCall> reading("advapi32.dll", "GetKernelObjectSecurity",
                                                   &recordingKernelObjectSecurity);
    ASSERT_TRUE(reading.active());
    realKernelObjectSecurity = reading.original();
    const std::string existing = root_ + "\\existing";
    makeDirectory(existing);
    securityReadThrough.clear();
    ASSERT_EQ(prepare(false, existing), WorkDirectoryState::ready);
    ASSERT_EQ(securityReadThrough.size(), 1u);
    EXPECT_EQ(securityReadThrough[0], handles_.back()) << "read through the handle that is kept";
    // Made by the run: nothing to judge.
    securityReadThrough.clear();
    EXPECT_EQ(prepare(false, root_ + "\\fresh"), WorkDirectoryState::ready);
    EXPECT_EQ(prepare(true), WorkDirectoryState::ready);
    EXPECT_TRUE(securityReadThrough.empty());
}

}  // namespace
