#pragma once
// orvi_acquire (or any command) run as a process of its own, with standard output and error
// in files of a test folder (or standard output into a pipe the test holds, as "fd:N"),
// that folder as its TMPDIR (so that the test looks only at what it made), the port folder
// of a simulated device in ORVI_PORT_DIR, and optionally a file size limit (ulimit -f).
#include "platform/Clock.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace orvi::acquire::test {

inline const std::string kAcquire = ORVI_ACQUIRE_PATH;

class TProcess {
public:
    // Starts `argv` (argv[0] is the program's path) with ORVI_PORT_DIR=portDir, standard
    // output into outPath and standard error into errPath, and TMPDIR the folder of errPath.
    TProcess(const std::vector<std::string>& argv, const std::string& portDir,
             const std::string& outPath, const std::string& errPath,
             std::optional<rlim_t> fileSizeLimit = std::nullopt) {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, "ORVI_PORT_DIR=", 14) != 0 && std::strncmp(*e, "TMPDIR=", 7) != 0)
                env.emplace_back(*e);
        }
        env.push_back("ORVI_PORT_DIR=" + portDir);
        env.push_back("TMPDIR=" + errPath.substr(0, errPath.rfind('/')));
        std::vector<char*> args = Pointers(argv);
        std::vector<char*> envp = Pointers(env);
        pid_ = fork();
        if (pid_ == 0)
            Child(args, envp, outPath, errPath, fileSizeLimit);
    }
    ~TProcess() {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            Wait(10000);
        }
    }
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    void Signal(int signal) const { kill(pid_, signal); }

    // The exit status; -1 for a process that was ended by a signal, or killed here after
    // `limitMs` (the limit only keeps a broken test from hanging).
    int Wait(int limitMs = 30000) {
        for (int waited = 0; !status_; waited += 5) {
            int raw = 0;
            const pid_t done = waitpid(pid_, &raw, WNOHANG);
            if (done == pid_) {
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
                break;
            }
            if (waited >= limitMs)
                kill(pid_, SIGKILL);
            platform::SleepMs(5);
        }
        return *status_;
    }

private:
    static std::vector<char*> Pointers(const std::vector<std::string>& texts) {
        std::vector<char*> pointers;
        for (const std::string& t : texts)
            pointers.push_back(const_cast<char*>(t.c_str()));
        pointers.push_back(nullptr);
        return pointers;
    }

    // Only calls that are safe after a fork of a process with threads.
    [[noreturn]] static void Child(std::vector<char*>& args, std::vector<char*>& envp,
                                   const std::string& outPath, const std::string& errPath,
                                   std::optional<rlim_t> fileSizeLimit) {
        const bool piped = outPath.rfind("fd:", 0) == 0; // "fd:N": a pipe the test holds
        const int out = piped ? std::atoi(outPath.c_str() + 3)
                              : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        if (fileSizeLimit) {
            // As `ulimit -f` sets it: SIGXFSZ keeps its default action (the end of a process
            // that does not take care of it).
            rlimit limit{*fileSizeLimit, *fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }

    pid_t pid_ = -1;
    std::optional<int> status_;
};

// The lines of a data log, without their CR LF; `whole` is false when the bytes do not end
// with a line end or a line is not twelve fields.
inline std::vector<std::string> LogLines(const std::string& bytes, bool& whole) {
    std::vector<std::string> lines;
    size_t at = 0;
    whole = true;
    for (size_t end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2) {
        lines.push_back(bytes.substr(at, end - at));
        size_t spaces = 0;
        for (char c : lines.back())
            spaces += c == ' ';
        whole = whole && spaces == 11;
    }
    whole = whole && at == bytes.size();
    return lines;
}

inline // The value of "key": in a JSON line of numbers, as written.
    std::string
    Member(const std::string& json, std::string_view key) {
    const std::string name = "\"" + std::string(key) + "\":";
    const size_t at = json.find(name);
    if (at == std::string::npos)
        return "(missing)";
    const size_t from = at + name.size();
    return json.substr(from, json.find_first_of(",}", from) - from);
}

} // namespace orvi::acquire::test
