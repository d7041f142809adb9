#include "install/work_directory.h"

#include <windows.h>
#include <sddl.h>

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

// Every CreateDirectoryA call of the launcher's code while it stands: the
// path and the descriptor handed over, as text.
using CreateDirectoryCall = BOOL(WINAPI*)(LPCSTR, LPSECURITY_ATTRIBUTES);
struct CreatedDirectory {
    std::string path;
    std::string descriptor;
};
std::vector<CreatedDirectory> createdDirectories;
CreateDirectoryCall realCreateDirectory = nullptr;

BOOL WINAPI recordingCreateDirectory(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
    const bool given = security != nullptr && security->lpSecurityDescriptor != nullptr;
    createdDirectories.push_back({path, given ? descriptorText(security->lpSecurityDescriptor) : "none"});
    return realCreateDirectory(path, security);
}

class DirectoryCreationRecorder : public ScopedImport<CreateDirectoryCall> {
public:
    DirectoryCreationRecorder() : ScopedImport("kernel32.dll", "CreateDirectoryA", &recordingCreateDirectory) {
        createdDirectories.clear();
        realCreateDirectory = original();
    }
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
    WorkDirectoryState prepare(bool temporary, const std::string& path = "") {
        HANDLE hold = INVALID_HANDLE_VALUE;
        const WorkDirectoryState state = prepareWorkDirectory((path.empty() ? path_ : path).c_str(), temporary, &hold);
        EXPECT_EQ(hold != INVALID_HANDLE_VALUE, state == WorkDirectoryState::ready);
        if (hold != INVALID_HANDLE_VALUE) handles_.push_back(hold);
        return state;
    }
    HANDLE keep(HANDLE handle) {
        handles_.push_back(handle);
        return handle;
    }
    std::string root_, path_;
    std::vector<HANDLE> handles_;
};

TEST_F(WorkDirectory, TheDescriptorBuiltInMemoryIsProtectedGrantsThreeAndIsLabelledWhenElevated) {
    unsigned char descriptor[256];
    ASSERT_GT(buildLauncherDescriptor(descriptor, sizeof descriptor), 0u);
    ASSERT_TRUE(IsValidSecurityDescriptor(descriptor));
    EXPECT_EQ(descriptorText(descriptor), expectedDescriptor());
}

// Wine keeps neither a protected list nor a label on the directory itself,
// so what is checked is the descriptor handed to CreateDirectoryA.
TEST_F(WorkDirectory, EveryDirectoryTheLauncherCreatesIsHandedThatDescriptor) {
    DirectoryCreationRecorder recorder;
    ASSERT_TRUE(recorder.active());
    const std::string named = root_ + "\\named";
    const std::string existing = makeScratchDirectory("work-directory-existing");
    EXPECT_EQ(prepare(true), WorkDirectoryState::ready);
    EXPECT_EQ(prepare(false, named), WorkDirectoryState::ready);
    EXPECT_EQ(prepare(false, existing), WorkDirectoryState::ready);
    ASSERT_EQ(createdDirectories.size(), 2u) << "an existing named directory is used as it stands";
    EXPECT_EQ(createdDirectories[0].path, path_);
    EXPECT_EQ(createdDirectories[1].path, named);
    for (const CreatedDirectory& created : createdDirectories) {
        EXPECT_EQ(created.descriptor, expectedDescriptor()) << created.path;
    }
}

TEST_F(WorkDirectory, AHeldWorkDirectoryCannotBeDeletedRenamedOrTakenByASecondRun) {
    ASSERT_EQ(prepare(true), WorkDirectoryState::ready);
    writeFile(path_ + "\\SETUP.EXE", "extracted");
    EXPECT_FALSE(MoveFileExA(path_.c_str(), (root_ + "\\moved").c_str(), 0));
    EXPECT_FALSE(RemoveDirectoryA(path_.c_str()));
    // A second run finds it in use and leaves it as it is.
    EXPECT_EQ(prepare(true), WorkDirectoryState::inUse);
    EXPECT_EQ(readFile(path_ + "\\SETUP.EXE"), "extracted");
    // The run's own children still work in it.
    const std::string start = currentDirectory();
    EXPECT_TRUE(SetCurrentDirectoryA(path_.c_str()));
    SetCurrentDirectoryA(start.c_str());
    writeFile(path_ + "\\more.txt", "written by a child");
    EXPECT_TRUE(pathExists(path_ + "\\more.txt"));
}

TEST_F(WorkDirectory, ALeftoverIsEmptiedAndMadeNewOrTheRunEnds) {
    // An ordinary leftover: removed and made anew, empty.
    makeDirectory(path_ + "\\old\\deeper");
    writeFile(path_ + "\\old\\deeper\\left-over.txt", "from an earlier run");
    EXPECT_EQ(prepare(true), WorkDirectoryState::ready);
    EXPECT_TRUE(std::filesystem::is_empty(path_));
    for (HANDLE handle : handles_) CloseHandle(handle);
    handles_.clear();

    // A planted file held open without delete sharing cannot be removed: the
    // directory still stands, so it is not this run's to use.
    writeFile(path_ + "\\SETUP.EXE", "planted");
    keep(CreateFileA((path_ + "\\SETUP.EXE").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                     nullptr));
    EXPECT_EQ(prepare(true), WorkDirectoryState::leftoverNotCleared);
    EXPECT_EQ(readFile(path_ + "\\SETUP.EXE"), "planted");

    // A file in its place is not a directory this run made.
    const std::string file = root_ + "\\FILE";
    writeFile(file, "a file");
    EXPECT_EQ(prepare(true, file), WorkDirectoryState::leftoverNotCleared);
    EXPECT_EQ(readFile(file), "a file");
}

TEST_F(WorkDirectory, ANamedDirectoryIsCreatedWhenMissingAndOtherwiseUsedAsItStands) {
    const std::string existing = root_ + "\\existing";
    makeDirectory(existing);
    writeFile(existing + "\\mine.txt", "the user's");
    EXPECT_EQ(prepare(false, existing), WorkDirectoryState::ready);
    EXPECT_EQ(readFile(existing + "\\mine.txt"), "the user's");
    EXPECT_EQ(prepare(false, root_ + "\\new"), WorkDirectoryState::ready);
    EXPECT_TRUE(pathExists(root_ + "\\new"));
    EXPECT_EQ(prepare(false, root_ + "\\missing\\parent"), WorkDirectoryState::notCreated);
    writeFile(root_ + "\\file", "a file");
    EXPECT_EQ(prepare(false, root_ + "\\file"), WorkDirectoryState::notDirectory);
}

}  // namespace
