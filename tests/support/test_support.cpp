#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

namespace testing_support {

std::string testName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code ignored;
    if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string windowsPathOf(const std::string& hostPath) {
    std::string path = "Z:" + hostPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

ScopedEnvironment::ScopedEnvironment(const std::string& name, const std::string& value) : name_(name) {
#ifdef _WIN32
    SetEnvironmentVariableA(name_.c_str(), value.c_str());
#else
    setenv(name_.c_str(), value.c_str(), 1);
#endif
}

ScopedEnvironment::~ScopedEnvironment() {
#ifdef _WIN32
    SetEnvironmentVariableA(name_.c_str(), nullptr);
#else
    unsetenv(name_.c_str());
#endif
}

ScratchDirectory::ScratchDirectory(const std::string& prefix) {
    std::random_device seed;
    std::mt19937_64 names(seed());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
        const std::filesystem::path candidate = base / (prefix + std::to_string(names() % 1000000000000ULL));
        // Made by this call alone: an existing folder is never taken over.
        if (std::filesystem::create_directory(candidate)) path = candidate.string();
    }
    if (path.empty()) throw std::runtime_error("no scratch folder could be made in " + base.string());
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

}  // namespace testing_support
