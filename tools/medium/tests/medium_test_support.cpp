#include "medium_test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "file_io.h"
#include "package_password.h"
#include "zip_archive.h"

extern char** environ;

namespace medium_test {

ScratchDirectory::ScratchDirectory() {
    char pattern[] = "/tmp/kestrune-medium-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

ScratchDirectory::~ScratchDirectory() { removeTree(path); }

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return "";
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void makeDirectories(const std::string& path) {
    std::string partial;
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        partial += part + "/";
        mkdir(partial.c_str(), 0777);
    }
}

bool exists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

std::vector<std::string> listDirectory(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* directory = opendir(path.c_str())) {
        while (const dirent* entry = readdir(directory)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                names.push_back(entry->d_name);
            }
        }
        closedir(directory);
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

void addTree(const std::string& directory, const std::string& prefix, std::vector<std::string>& out) {
    for (const std::string& name : listDirectory(directory)) {
        const std::string path = directory + "/" + name;
        struct stat status;
        if (lstat(path.c_str(), &status) != 0) continue;
        char attributes[64];
        std::snprintf(attributes, sizeof attributes, " %04o %u:%u", static_cast<unsigned>(status.st_mode & 07777),
                      static_cast<unsigned>(status.st_uid), static_cast<unsigned>(status.st_gid));
        if (S_ISLNK(status.st_mode)) {
            char target[4096];
            const ssize_t length = readlink(path.c_str(), target, sizeof target);
            out.push_back(prefix + name + "->" + std::string(target, length < 0 ? 0 : static_cast<size_t>(length)));
        } else if (S_ISDIR(status.st_mode)) {
            out.push_back(prefix + name + "/" + attributes);
            addTree(path, prefix + name + "/", out);
        } else {
            out.push_back(prefix + name + "=" + readFile(path) + attributes);
        }
    }
}

}  // namespace

std::vector<std::string> treeOf(const std::string& directory) {
    std::vector<std::string> tree;
    addTree(directory, "", tree);
    return tree;
}

std::vector<std::string> stagingLeftovers(const std::string& directory) {
    std::vector<std::string> leftovers;
    for (const std::string& name : listDirectory(directory)) {
        if (name.find(".kestrune-medium-") != std::string::npos) leftovers.push_back(name);
    }
    return leftovers;
}

std::string peImage(uint16_t characteristics, const std::string& body) {
    std::string image(0x40, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    image[0x3c] = 0x40;
    image += std::string("PE\0\0", 4);
    std::string fileHeader(20, '\0');
    fileHeader[0] = 0x64;  // machine: x86-64
    fileHeader[1] = static_cast<char>(0x86);
    fileHeader[18] = static_cast<char>(characteristics & 0xff);
    fileHeader[19] = static_cast<char>(characteristics >> 8);
    return image + fileHeader + body;
}

std::string fakeLauncher() {
    return peImage(0x0102, std::string("launcher code") + '\0' + packagePassword + '\0' + std::string(300, '\0'));
}

std::string incompressibleBytes(size_t count, uint64_t seed) {
    std::mt19937_64 generator(seed);
    std::string bytes(count, '\0');
    for (size_t i = 0; i + 8 <= count; i += 8) {
        const uint64_t value = generator();
        std::memcpy(&bytes[i], &value, 8);
    }
    return bytes;
}

void makePayload(const std::string& directory) {
    makeDirectories(directory + "/docs/empty");
    writeFile(directory + "/SETUP.EXE", peImage(0x0102, "the product's installer"));
    writeFile(directory + "/docs/readme.txt", "extracted data\n");
    writeFile(directory + "/PostProcess.cmd", "@echo off\r\n");
}

ToolRun runTool(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
    std::vector<std::string> command = {KESTRUNE_MEDIUM_EXE};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runProgram(command, environment);
}

pid_t startProgram(const std::vector<std::string>& command, const std::string& outPath, const std::string& errPath,
                   const std::vector<std::string>& environment) {
    std::vector<std::string> all = command;
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    std::vector<std::string> settings = environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string setting = *variable;
        const std::string name = setting.substr(0, setting.find('=') + 1);
        bool overridden = false;
        for (const std::string& given : environment) overridden = overridden || given.compare(0, name.size(), name) == 0;
        if (!overridden) settings.push_back(setting);
    }
    std::vector<char*> envp;
    for (std::string& setting : settings) envp.push_back(&setting[0]);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

ToolRun runProgram(const std::vector<std::string>& command, const std::vector<std::string>& environment) {
    ScratchDirectory capture;
    const std::string outPath = capture / "out";
    const std::string errPath = capture / "err";
    ToolRun run;
    const pid_t pid = startProgram(command, outPath, errPath, environment);
    if (pid > 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    return run;
}

Workspace::Workspace() {
    makePayload(payload);
    writeFile(launcher, fakeLauncher());
    writeFile(extractor, peImage(0x0102, "extractor"));
    writeFile(scratch / "notes.txt", "not a program");
    writeFile(scratch / "library.dll", peImage(0x2102, std::string(packagePassword) + '\0'));
    writeFile(scratch / "other-password.exe", peImage(0x0102, std::string("Other-Password") + '\0'));
}

std::vector<std::string> Workspace::build(std::vector<std::string> extra, const std::string& payloadDirectory) const {
    std::vector<std::string> arguments = {"build", payloadDirectory.empty() ? payload : payloadDirectory,
                                          "--out", medium, "--launcher", launcher, "--extractor", extractor};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

std::vector<std::string> Workspace::buildTo(const std::string& out, std::vector<std::string> extra) const {
    std::vector<std::string> arguments = {"build", payload, "--out", out, "--launcher", launcher, "--extractor", extractor};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

std::vector<std::string> Workspace::buildUsing(const std::string& launcherFile, const std::string& extractorFile) const {
    return {"build", payload, "--out", medium, "--launcher", launcherFile, "--extractor", extractorFile};
}

ToolRun Workspace::check(std::vector<std::string> extra) const {
    std::vector<std::string> arguments = {"check", medium};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return runTool(arguments);
}

namespace {

bool collect(void* context, const uint8_t* data, size_t length) {
    static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(data), length);
    return true;
}

void listFiles(const std::string& directory, const std::string& prefix, std::vector<std::string>& out) {
    for (const std::string& name : listDirectory(directory)) {
        const std::string path = directory + "/" + name;
        struct stat status;
        stat(path.c_str(), &status);
        if (S_ISDIR(status.st_mode)) {
            listFiles(path, prefix + name + "/", out);
        } else {
            out.push_back(prefix + name + "=" + readFile(path));
        }
    }
}

}  // namespace

std::vector<std::string> archiveContents(const std::string& path, const char* password) {
    const std::string bytes = readFile(path);
    const ArchiveInput input = memory_archive_input(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    std::vector<ZipEntry> entries;
    const ZipStatus directoryStatus = read_central_directory(input, entries);
    if (directoryStatus != ZipStatus::ok) return {std::string("error: ") + zip_status_text(directoryStatus)};
    std::vector<std::string> contents;
    for (const ZipEntry& entry : entries) {
        if (zip_entry_is_directory(entry)) continue;
        std::string data;
        const ZipStatus status = extract_entry(input, entry, password, OutputSink{collect, &data});
        contents.push_back(entry.name + "=" + (status == ZipStatus::ok ? data : std::string("error: ") + zip_status_text(status)));
    }
    std::sort(contents.begin(), contents.end());
    return contents;
}

std::vector<std::string> payloadContents(const std::string& directory) {
    std::vector<std::string> contents;
    listFiles(directory, "", contents);
    std::sort(contents.begin(), contents.end());
    return contents;
}

}  // namespace medium_test
