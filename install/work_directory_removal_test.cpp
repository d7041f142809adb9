#include "install/work_directory_removal.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
        return path;
    }
    std::string root_, tree_;
    std::vector<std::string> readOnly_;
};

TEST_F(WorkDirectoryRemoval, RemovesAnEmptyDirectory) {
    EXPECT_EQ(removeWorkDirectory(tree_.c_str()), 1);
    EXPECT_FALSE(pathExists(tree_));
}

TEST_F(WorkDirectoryRemoval, BothWalksRemoveADeepTreeWithEveryKindOfEntry) {
    for (const bool byPaths : {false, true}) {
        directory("a\\b\\c\\d");
        file("a\\b\\c\\d\\deep.bin");
        file("a\\hidden.txt", FILE_ATTRIBUTE_HIDDEN);
        directory("flags", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
        file("flags\\inside.txt");
        if (byPaths) {
            removeDirectoryTreeByPaths(tree_.c_str());
        } else {
            removeDirectoryTree(tree_.c_str());
        }
        EXPECT_FALSE(pathExists(tree_)) << byPaths;
        makeDirectory(tree_);
    }
}

TEST_F(WorkDirectoryRemoval, RemovesADeepTreeWithEveryKindOfEntry) {
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
    EXPECT_EQ(removeWorkDirectory(tree_.c_str()), 1);
    EXPECT_FALSE(pathExists(tree_));
    EXPECT_TRUE(pathExists(root_)) << "nothing above the removed directory goes";
}

TEST_F(WorkDirectoryRemoval, AReadOnlyFileStaysWithItsParents) {
    const std::string kept = file("a\\b\\kept.txt", FILE_ATTRIBUTE_READONLY);
    file("a\\b\\gone.txt");
    file("a\\gone.txt");
    directory("other\\deeper");
    file("other\\deeper\\gone.txt");
    removeWorkDirectory(tree_.c_str());
    EXPECT_TRUE(pathExists(kept));
    EXPECT_FALSE(pathExists(tree_ + "\\a\\b\\gone.txt"));
    EXPECT_FALSE(pathExists(tree_ + "\\a\\gone.txt"));
    EXPECT_FALSE(pathExists(tree_ + "\\other"));
}

TEST_F(WorkDirectoryRemoval, AFileHeldOpenStaysAndEverythingElseGoes) {
    const std::string held = file("held.txt");
    file("free.txt");
    HANDLE handle = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    removeWorkDirectory(tree_.c_str());
    CloseHandle(handle);
    EXPECT_TRUE(pathExists(held));
    EXPECT_FALSE(pathExists(tree_ + "\\free.txt"));
}

TEST_F(WorkDirectoryRemoval, TheTopSaysHowItWasFound) {
    file("inside.txt");
    HANDLE held = CreateFileA(tree_.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(removeDirectoryTreeFromTop(tree_.c_str(), true), TreeTop::inUse);
    EXPECT_TRUE(pathExists(tree_ + "\\inside.txt")) << "a tree in use is not touched";
    CloseHandle(held);
    EXPECT_EQ(removeDirectoryTreeFromTop(tree_.c_str(), true), TreeTop::removed);
    EXPECT_FALSE(pathExists(tree_));
    EXPECT_EQ(removeDirectoryTreeFromTop(tree_.c_str(), true), TreeTop::missing);
    const std::string plainFile = root_ + "\\plain.txt";
    writeFile(plainFile, "not a directory");
    EXPECT_EQ(removeDirectoryTreeFromTop(plainFile.c_str(), false), TreeTop::unreadable);
    EXPECT_TRUE(pathExists(plainFile));
}

TEST_F(WorkDirectoryRemoval, MissingAndEmptyPathsAreHarmless) {
    EXPECT_EQ(removeWorkDirectory((root_ + "\\missing").c_str()), 1);
    EXPECT_EQ(removeDirectoryTree((root_ + "\\missing\\deeper").c_str()), 1);
    EXPECT_EQ(removeWorkDirectory(nullptr), 1);

    // An empty path would name the root of the current drive: nothing happens.
    const std::string start = currentDirectory();
    SetCurrentDirectoryA(root_.c_str());
    file("stays.txt");
    EXPECT_EQ(removeWorkDirectory(""), 1);
    SetCurrentDirectoryA(start.c_str());
    EXPECT_TRUE(pathExists(tree_ + "\\stays.txt"));
}

// The walk by paths, which systems without deletion through handles use.
TEST_F(WorkDirectoryRemoval, ByPathsAnEntryWhosePathWouldNotFitIsPassedOver) {
    // Build a chain whose deepest file needs more than 259 characters.
    std::string relative;
    while ((tree_ + "\\" + relative).size() < 230) relative += std::string(20, 'n') + "\\";
    directory(relative);
    const std::string longName(259 - (tree_ + "\\" + relative).size() + 5, 'f');
    const std::string deep = tree_ + "\\" + relative + longName;
    ASSERT_GT(deep.size(), 259u);
    // Made through the wide \\?\ form, which has no path limit.
    const std::string longForm = "\\\\?\\" + deep;
    const std::wstring wide(longForm.begin(), longForm.end());
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) GTEST_SKIP() << "this platform cannot make the over-long file";
    CloseHandle(handle);
    file("short.txt");
    removeDirectoryTreeByPaths(tree_.c_str());
    EXPECT_FALSE(pathExists(tree_ + "\\short.txt"));
    EXPECT_TRUE(pathExists(tree_ + "\\" + relative)) << "the entry and its parents stay";
}

}  // namespace
