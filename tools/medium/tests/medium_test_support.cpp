#include "medium_test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "file_io.h"
#include "little_endian.h"
#include "package_password.h"
#include "zip_reader_containers.h"

extern char** environ;

namespace medium_test {

void makeDirectories(const std::string& path) {
    std::string partial;
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        partial += part + "/";
        mkdir(partial.c_str(), 0777);
    }
}

testing::AssertionResult holds(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "'" << part << "' is not in:\n" << text;
}

testing::AssertionResult isProblem(const std::string& problem, const std::string& expected) {
    if (expected.empty() && !problem.empty())
        return testing::AssertionFailure() << "an unexpected problem: " << problem;
    return holds(problem, expected);
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

bool hasLine(const std::string& report, const std::string& start, const std::string& text) {
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(start, 0) == 0 && line.find(text) != std::string::npos) return true;
    }
    return false;
}

bool exists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

std::vector<std::string> listDirectory(const std::string& path) {
    std::vector<std::string> names;
    std::string unreadable;
    directoryNames(path, names, unreadable);
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

namespace {

void put16(std::string& bytes, size_t at, uint32_t value) { writeLittle(bytes, at, value, 2); }
void put32(std::string& bytes, size_t at, uint32_t value) { writeLittle(bytes, at, value, 4); }

}  // namespace

std::string peProgram(const std::string& body) {
    constexpr size_t headersSize = 0x200, sectionSize = 0x1000;
    if (body.size() > sectionSize) throw std::runtime_error("peProgram: body too long");
    std::string image(headersSize + sectionSize, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    put32(image, 0x3c, 0x80);
    image.replace(0x80, 4, std::string("PE\0\0", 4));
    const size_t coff = 0x84, optional = coff + 20;
    put16(image, coff, 0x14c);      // i386
    put16(image, coff + 2, 1);      // one section
    put16(image, coff + 16, 0xe0);  // optional header size
    put16(image, coff + 18, 0x0102);
    put16(image, optional, 0x10b);          // PE32
    put32(image, optional + 16, 0x1000);    // entry point
    put32(image, optional + 28, 0x400000);  // image base
    put32(image, optional + 32, 0x1000);    // section alignment
    put32(image, optional + 36, 0x200);     // file alignment
    put16(image, optional + 40, 4);         // OS version
    put16(image, optional + 48, 4);         // subsystem version
    put32(image, optional + 56, 0x2000);    // image size
    put32(image, optional + 60, headersSize);
    put16(image, optional + 68, 2);   // GUI
    put32(image, optional + 92, 16);  // data directories
    const size_t section = optional + 0xe0;
    image.replace(section, 5, ".text");
    put32(image, section + 8, sectionSize);   // virtual size
    put32(image, section + 12, 0x1000);       // virtual address
    put32(image, section + 16, sectionSize);  // raw size
    put32(image, section + 20, headersSize);  // raw offset
    put32(image, section + 36, 0x60000020);   // code, readable, executable
    image.replace(headersSize, body.size(), body);
    return image;
}

std::string craftedNsisInstaller(bool silent) {
    std::string program = peProgram("the NSIS stub");
    program += std::string((512 - program.size() % 512) % 512, '\0');
    std::string header(4, '\0');
    put32(header, 0, silent ? 2 : 0);
    return program + header + "\xef\xbe\xad\xdeNullsoftInst" + std::string(64, '\x01');
}

std::string craftedInnoSetupLoader() {
    return peProgram(std::string("rDlPtS\xcd\xe6\xd7\x7b\x0b\x2a") + std::string(32, '\0'));
}

std::string craftedInnoSetupData() {
    return peProgram("the loader") + incompressibleBytes(100000, 7) + "Inno Setup Setup Data (6.2.2) (u)" +
           std::string(30, '\0');
}

std::string craftedInstallShieldLauncher() {
    std::string name;
    for (char c : std::string("InstallShield")) name += std::string{c, '\0'};
    return peProgram("ProductName\0" + name);
}

std::string craftedBurnBundle() {
    std::string program = peProgram("the engine");
    program.replace(0x84 + 20 + 0xe0, 8, ".wixburn");  // peProgram's one section header
    return program;
}

std::string makensisInstaller(const std::string& folder, bool silent) {
    if (std::string(KESTRUNE_MAKENSIS).find("NOTFOUND") != std::string::npos) {
        throw std::runtime_error("makensis is needed (scripts/install-deps.sh installs nsis)");
    }
    const std::string script = folder + "/installer.nsi";
    writeFile(script, std::string("OutFile \"installer.exe\"\nRequestExecutionLevel user\n") +
                          (silent ? "SilentInstall silent\n" : "") + "Section\nSectionEnd\n");
    const ToolRun made =
        runProgram({"bash", "-c", "cd \"$0\" && exec \"$1\" -V1 installer.nsi", folder, KESTRUNE_MAKENSIS});
    if (made.status != 0) throw std::runtime_error("makensis failed: " + made.out + made.err);
    return readFile(folder + "/installer.exe");
}

std::string signableLauncher() { return peProgram(std::string("launcher code") + '\0' + packagePassword + '\0'); }

TestSigner::TestSigner() {
    const std::string subject = "/CN=Kestrune Test Publisher/O=kestrune tests";
    for (const auto& [certificatePath, keyPath, name] :
         {std::tuple<std::string, std::string, std::string>{certificate, key, subject},
          std::tuple<std::string, std::string, std::string>{otherCertificate, otherKey, "/CN=Someone Else"}}) {
        const ToolRun made =
            runProgram({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "365", "-subj", name,
                        "-addext", "extendedKeyUsage=codeSigning", "-keyout", keyPath, "-out", certificatePath});
        if (made.status != 0) throw std::runtime_error("openssl req failed: " + made.err);
    }
    writeFile(passFile, password + "\n");
    const ToolRun encrypted =
        runProgram({"openssl", "pkey", "-in", key, "-aes256", "-passout", "file:" + passFile, "-out", encryptedKey});
    if (encrypted.status != 0) throw std::runtime_error("openssl pkey failed: " + encrypted.err);
}

std::string osslsigncodeVerify(const std::string& path, const std::string& caFile, int& status) {
    const ToolRun run = runProgram({"osslsigncode", "verify", "-CAfile", caFile, "-in", path});
    status = run.status;
    return run.out + run.err;
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

ToolRun expectRefused(const RefusedRun& refused, const std::vector<std::string>& environment) {
    std::vector<std::string> settings = refused.environment;
    settings.insert(settings.end(), environment.begin(), environment.end());
    std::string shown = "kestrune-medium";
    for (const std::string& argument : refused.arguments) shown += " " + quoted(argument);
    const ToolRun run = runTool(refused.arguments, settings);
    EXPECT_EQ(run.status, refused.status) << shown << "\n" << run.err;
    EXPECT_TRUE(holds(run.err, refused.message)) << shown;
    return run;
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
        for (const std::string& given : environment)
            overridden = overridden || given.compare(0, name.size(), name) == 0;
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
    std::vector<std::string> arguments = {"build",       payloadDirectory.empty() ? payload : payloadDirectory,
                                          "--out",       medium,
                                          "--launcher",  launcher,
                                          "--extractor", extractor};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

std::vector<std::string> Workspace::buildTo(const std::string& out, std::vector<std::string> extra) const {
    std::vector<std::string> arguments = {"build",      payload,  "--out",       out,
                                          "--launcher", launcher, "--extractor", extractor};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

std::vector<std::string> Workspace::buildUsing(const std::string& launcherFile,
                                               const std::string& extractorFile) const {
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
    const ArchiveInput input = memoryArchiveInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ZipDirectory directory;
    const ZipStatus directoryStatus = readZipDirectory(input, directory);
    if (directoryStatus != ZipStatus::ok) return {std::string("error: ") + zipStatusText(directoryStatus)};
    std::vector<std::string> contents;
    for (const ZipEntry& entry : directory.entries) {
        if (zipEntryIsDirectory(entry)) continue;
        std::string data;
        const ZipStatus status = extractEntry(input, entry, password, OutputSink{collect, &data});
        contents.push_back(entryNameText(entry) + "=" +
                           (status == ZipStatus::ok ? data : std::string("error: ") + zipStatusText(status)));
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
