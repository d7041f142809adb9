#include "host_program.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "file_io.h"

extern char** environ;

namespace {

void closeBoth(int pipe[2]) {
    for (int i = 0; i < 2; ++i) {
        if (pipe[i] >= 0) close(pipe[i]);
        pipe[i] = -1;
    }
}

// Reads both pipes to their ends, whichever has data first, so that neither
// fills up and stalls the program.
void collect(int outFd, int errFd, std::string& out, std::string& err, pid_t pid, bool (*cancelled)()) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    char buffer[65536];
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno != EINTR) return;
            if (cancelled != nullptr && cancelled()) kill(pid, SIGTERM);
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                fds[i].fd = -1;  // ignored by poll from now on
                continue;
            }
            sinks[i]->append(buffer, static_cast<size_t>(got));
        }
    }
}

}  // namespace

std::string findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr || name.empty() || name.find('/') != std::string::npos) return "";
    const std::string directories = path;
    for (size_t start = 0; start <= directories.size();) {
        size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        // An empty entry means the current folder: never searched here.
        if (end > start) {
            std::string candidate = joinHostPath(directories.substr(start, end - start), name);
            struct stat status;
            if (stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
                access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
        }
        start = end + 1;
    }
    return "";
}

ProgramResult runHostProgram(const std::vector<std::string>& command, bool (*cancelled)()) {
    ProgramResult result;
    int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
    if (command.empty() || pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        closeBoth(outPipe);
        closeBoth(errPipe);
        return result;
    }
    std::vector<std::string> arguments = command;
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        result.err = systemErrorText(spawned);
        return result;
    }
    result.started = true;
    collect(outPipe[0], errPipe[0], result.out, result.err, pid, cancelled);
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string missingProgramText(const std::string& name, const std::string& neededFor) {
    return name + " is not installed or not on PATH; it is needed " + neededFor + " (Debian: apt-get install " + name +
           ", or scripts/install-deps.sh)";
}
