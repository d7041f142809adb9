#include "install/work_directory_removal.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "install/work_directory.h"
#include "windows_test_support.h"

using namespace testing_support;

namespace {

class WorkDirectoryRemoval : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = makeScratchDirectory("removal-" + testName());
        tree_ = root_ + "\\KESTRUNE";
        makeDirectory(tree_);
    }
    void TearDown() override {
        // Let the scratch tree go even where read-only files were left.
        for (const std::string& path : readOnly_) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    std::string file(const std::string& relative, DWORD attributes = 0) {
        const std::string path = tree_ + "\\" + relative;
        writeFile(path, "content");
        if (attributes != 0) SetFileAttributesA(path.c_str(), attributes);
        if (attributes & FILE_ATTRIBUTE_READONLY) readOnly_.push_back(path);
        return path;
    }
    std::string directory(const std::string& relative, DWORD attributes = 0) {
        const std::string path = tree_ + "\\" + relative;
        makeDirectory(path);
        if (attributes != 0) SetFileAttributesA(path.c_str(), attributes);
        if (attributes & FILE_ATTRIBUTE_READONLY) readOnly_.push_back(path);
        return path;
    }
    // A chain of folders below the tree, made through the \\?\ form, whose
    // deepest file's path has more than `length` characters.
    std::string deepChain(size_t length) {
        std::string path = tree_;
        while (path.size() < length) {
            path += "\\a-folder-name-of-thirty-chars";
            const std::string longForm = "\\\\?\\" + path;
            CreateDirectoryW(std::wstring(longForm.begin(), longForm.end()).c_str(), nullptr);
        }
        const std::string deepest = "\\\\?\\" + path + "\\bottom.txt";
        HANDLE handle = CreateFileW(std::wstring(deepest.begin(), deepest.end()).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
        EXPECT_NE(handle, INVALID_HANDLE_VALUE);
        CloseHandle(handle);
        return path;
    }
    // The tree made as a run makes its work directory, and held.
    HANDLE madeAndHeld() {
        removeTree(tree_);
        char path[260];
        std::snprintf(path, sizeof path, "%s", tree_.c_str());
        HANDLE held = INVALID_HANDLE_VALUE;
        EXPECT_EQ(prepareWorkDirectory(path, true, &held), WorkDirectoryState::ready);
        EXPECT_EQ(tree_, path);
        return held;
    }
    std::string root_, tree_;
    std::vector<std::string> readOnly_;
};

TEST_F(WorkDirectoryRemoval, AForeignTreeWithEveryKindOfEntryGoesWhole) {
    file("top.txt");
    directory("a\\b\\c\\d");
    file("a\\b\\c\\d\\deep.bin");
    file("a\\b\\mid.txt");
    file("a\\hidden.txt", FILE_ATTRIBUTE_HIDDEN);
    file("a\\system.dll", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
    directory("flags", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    file("flags\\inside.txt");
    directory("name with blanks.dir");
    file("name with blanks.dir\\x y.txt");
    EXPECT_EQ(removeDirectoryTree(tree_.c_str()), TreeRemoval::removed);
    EXPECT_FALSE(pathExists(tree_));
    EXPECT_TRUE(pathExists(root_)) << "nothing above the removed directory goes";
}

TEST_F(WorkDirectoryRemoval, InAForeignTreeReadOnlyAndHeldFilesStayWithTheirParents) {
    const std::string kept = file("a\\b\\kept.txt", FILE_ATTRIBUTE_READONLY);
    file("a\\b\\gone.txt");
    file("a\\gone.txt");
    directory("other\\deeper");
    file("other\\deeper\\gone.txt");
    const std::string held = file("held.txt");
    HANDLE handle = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(removeDirectoryTree(tree_.c_str()), TreeRemoval::left);
    CloseHandle(handle);
    EXPECT_TRUE(pathExists(kept));
    EXPECT_TRUE(pathExists(held));
    EXPECT_FALSE(pathExists(tree_ + "\\a\\b\\gone.txt"));
    EXPECT_FALSE(pathExists(tree_ + "\\a\\gone.txt"));
    EXPECT_FALSE(pathExists(tree_ + "\\other"));
}

TEST_F(WorkDirectoryRemoval, TheTopSaysHowItWasFound) {
    file("inside.txt");
    HANDLE held = CreateFileA(tree_.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(removeDirectoryTree(tree_.c_str()), TreeRemoval::inUse);
    EXPECT_TRUE(pathExists(tree_ + "\\inside.txt")) << "a tree in use is not touched";
    CloseHandle(held);
    EXPECT_EQ(removeDirectoryTree(tree_.c_str()), TreeRemoval::removed);
    EXPECT_FALSE(pathExists(tree_));
    EXPECT_EQ(removeDirectoryTree(tree_.c_str()), TreeRemoval::missing);
    EXPECT_EQ(removeDirectoryTree((root_ + "\\missing\\deeper").c_str()), TreeRemoval::missing);
    const std::string plainFile = root_ + "\\plain.txt";
    writeFile(plainFile, "not a directory");
    EXPECT_EQ(removeDirectoryTree(plainFile.c_str()), TreeRemoval::unreadable);
    EXPECT_TRUE(pathExists(plainFile));
    EXPECT_EQ(removeDirectoryTree(""), TreeRemoval::unreadable) << "no parent: nothing is touched";
}

// The run's own tree goes whole: read-only entries, and a chain deeper than
// any path of 259 characters, or of 520.
TEST_F(WorkDirectoryRemoval, TheRunsOwnTreeGoesWholeReadOnlyEntriesAndDeepChainsIncluded) {
    HANDLE held = madeAndHeld();
    file("read-only.txt", FILE_ATTRIBUTE_READONLY);
    directory("locked", FILE_ATTRIBUTE_READONLY);
    file("locked\\inside.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    ASSERT_GT(deepChain(1200).size(), 1200u);
    EXPECT_TRUE(removeOwnTree(held, tree_.c_str()));
    EXPECT_FALSE(pathExists(tree_));
    EXPECT_TRUE(pathExists(root_));
}

// The pauses between attempts, counted and never waited: the removal's
// Sleep calls come to `countedSleep`, which lets the test act at the k-th.
std::vector<unsigned long> sleeps;
std::function<void(size_t)> onSleep;
void WINAPI countedSleep(DWORD milliseconds) {
    sleeps.push_back(milliseconds);
    if (onSleep) onSleep(sleeps.size());
}

class CountedSleeps {
public:
    CountedSleeps() : sleep_("kernel32.dll", "Sleep", &countedSleep) {
        sleeps.clear();
        onSleep = nullptr;
    }
    ~CountedSleeps() { onSleep = nullptr; }
    bool active() const { return sleep_.active(); }

private:
    ScopedImport<void(WINAPI*)(DWORD)> sleep_;
};

unsigned long total(const std::vector<unsigned long>& pauses) {
    unsigned long sum = 0;
    for (unsigned long pause : pauses) sum += pause;
    return sum;
}

TEST_F(WorkDirectoryRemoval, EntriesInUseAreTriedAgainWithinOneBudgetForTheWholeTree) {
    CountedSleeps counted;
    ASSERT_TRUE(counted.active());
    // A clean tree: one attempt, no pause.
    HANDLE held = madeAndHeld();
    file("a\\plain.txt");
    EXPECT_TRUE(removeOwnTree(held, tree_.c_str()));
    EXPECT_TRUE(sleeps.empty());

    // Files held open elsewhere, released at the k-th pause: gone after it.
    for (const size_t releasedAt : {1u, 3u, 8u}) {
        held = madeAndHeld();
        std::vector<HANDLE> users;
        for (const char* name : {"a\\one.txt", "b\\two.txt", "three.txt"}) {
            users.push_back(CreateFileA(file(name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        }
        sleeps.clear();
        onSleep = [&](size_t count) {
            if (count == releasedAt) {
                for (HANDLE user : users) CloseHandle(user);
            }
        };
        EXPECT_TRUE(removeOwnTree(held, tree_.c_str())) << releasedAt;
        EXPECT_EQ(sleeps.size(), releasedAt) << "one budget for the whole tree, not one per file";
        EXPECT_FALSE(pathExists(tree_)) << releasedAt;
        onSleep = nullptr;
    }

    // Never released: the whole budget, in eight growing pauses, then the
    // tree is left and said to be.
    held = madeAndHeld();
    const std::string kept = file("kept.txt");
    HANDLE user = CreateFileA(kept.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    sleeps.clear();
    EXPECT_FALSE(removeOwnTree(held, tree_.c_str()));
    EXPECT_EQ(sleeps, (std::vector<unsigned long>{50, 100, 200, 400, 800, 1600, 3200, 3650}));
    EXPECT_EQ(total(sleeps), 10000u);
    CloseHandle(user);
    EXPECT_TRUE(pathExists(kept));
}

// Another process whose current directory is the tree (as a console host of
// the script can be): the tree itself is in use until that process ends.
TEST_F(WorkDirectoryRemoval, ATopThatIsAnotherProcesssCurrentDirectoryGoesOnceItIsReleased) {
    HANDLE held = madeAndHeld();
    auto helper = std::make_unique<StartedProcess>(quoted(testChildPath()) + " --helper 60000", tree_);
    ASSERT_TRUE(helper->started());
    ASSERT_TRUE(waitForPath(tree_ + "\\helper.lock", 30000));
    CountedSleeps counted;
    ASSERT_TRUE(counted.active());
    onSleep = [&](size_t count) {
        if (count == 2) helper.reset();
    };
    EXPECT_TRUE(removeOwnTree(held, tree_.c_str()));
    EXPECT_EQ(sleeps.size(), 2u);
    EXPECT_FALSE(pathExists(tree_));
}

// Once the held handle is closed, the tree is opened again by its path: only
// the very directory that was held is deleted, never what stands at its name
// by then. Wine lets anyone rename it in that moment; Windows only those its
// access list names.
using CreateFileCall = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
CreateFileCall realCreateFile = nullptr;
std::string swapAt;
HANDLE WINAPI swappingCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE model) {
    if (!swapAt.empty() && swapAt == path && (access & DELETE) != 0) {
        MoveFileExA(swapAt.c_str(), (swapAt + ".moved").c_str(), 0);
        CreateDirectoryA(swapAt.c_str(), nullptr);
        writeFile(swapAt + "\\someone-elses.txt", "not the run's");
        swapAt.clear();
    }
    return realCreateFile(path, access, share, security, disposition, flags, model);
}

TEST_F(WorkDirectoryRemoval, OnlyTheDirectoryThatWasHeldIsDeleted) {
    CountedSleeps counted;
    HANDLE held = madeAndHeld();
    file("the-runs.txt");
    ScopedImport<CreateFileCall> swapping("kernel32.dll", "CreateFileA", &swappingCreateFile);
    ASSERT_TRUE(swapping.active());
    realCreateFile = swapping.original();
    swapAt = tree_;
    EXPECT_FALSE(removeOwnTree(held, tree_.c_str()));
    EXPECT_TRUE(swapAt.empty()) << "the swap was made";
    EXPECT_TRUE(sleeps.empty()) << "what stands there now is no one's to wait for";
    EXPECT_EQ(readFile(tree_ + "\\someone-elses.txt"), "not the run's");
    EXPECT_TRUE(pathExists(tree_ + ".moved")) << "the run's own, emptied, is left where it was moved";
    EXPECT_FALSE(pathExists(tree_ + ".moved\\the-runs.txt"));
}

}  // namespace
