// What every test program shares, on Windows and on the host: the running
// test's name, quoting, whole files, an environment setting for one scope,
// scratch folders and the Windows path Wine gives a host file.
#pragma once

#include <string>

namespace testing_support {

// The running test's name, as TEST() spells it.
std::string testName();
// The text in double quotes, as a Windows command line quotes a path.
std::string quoted(const std::string& text);

// The whole file; empty when it cannot be read.
std::string readFile(const std::string& path);
// Replaces the file with `content`, making missing parent folders; throws
// std::runtime_error when it cannot.
void writeFile(const std::string& path, const std::string& content);

// The path Wine shows for a host path: the host's root is drive Z:.
std::string windowsPathOf(const std::string& hostPath);

// An environment variable set for one scope and removed when it ends.
class ScopedEnvironment {
public:
    ScopedEnvironment(const std::string& name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
};

// A fresh folder in the temporary folder, removed with everything in it
// when it goes.
struct ScratchDirectory {
    std::string path;
    explicit ScratchDirectory(const std::string& prefix = "kestrune-test-");
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

}  // namespace testing_support
