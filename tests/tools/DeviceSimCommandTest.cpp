// Runs the orvi_device_sim command as the operator would.
#include "tests/support/WaitFor.h"
#include "tests/tools/ConsoleEnd.h"
#include "tools/simulator/Protocol.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace orvi::sim {
namespace {

using orvi::testing::ConsoleEnd;
using orvi::testing::WaitFor;

// The command running with its standard output (and error) on a pipe.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], STDOUT_FILENO);
            dup2(fds[1], STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(ORVI_DEVICE_SIM)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(ORVI_DEVICE_SIM, argv.data());
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
    }
    ~SimProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            Wait();
        }
        close(out_);
    }

    // The output so far, once `text` is in it (or the safety limit passed).
    std::string ReadUntil(const std::string& text) {
        WaitFor([&] {
            pollfd p{out_, POLLIN, 0};
            char chunk[512];
            if (poll(&p, 1, 10) > 0) {
                const ssize_t n = read(out_, chunk, sizeof chunk);
                if (n > 0)
                    output_.append(chunk, size_t(n));
            }
            return output_.find(text) != std::string::npos;
        });
        return output_;
    }

    void Signal(int signal) { kill(pid_, signal); }

    // The exit status after the process ended.
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool exited_ = false;
    std::string output_;
};

std::string LineAfter(const std::string& text, const std::string& prefix) {
    const size_t at = text.find(prefix);
    if (at == std::string::npos)
        return {};
    const size_t start = at + prefix.size();
    return text.substr(start, text.find('\n', start) - start);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

TEST(DeviceSimCommand, HelpAndBadOptions) {
    SimProcess help({"--help"});
    EXPECT_NE(help.ReadUntil("--flash-end").find("--port N"), std::string::npos);
    EXPECT_EQ(help.Wait(), 0);
    SimProcess bad({"--port", "0"});
    EXPECT_NE(bad.ReadUntil("--help").find("--port"), std::string::npos);
    EXPECT_EQ(bad.Wait(), 2);
}

TEST(DeviceSimCommand, ServesTheConsoleUntilStoppedThenRemovesItsFolder) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SimProcess sim({"--port", "7", "--steady", "--zero-count", "0"});
        const std::string out = sim.ReadUntil("Stop with");
        const std::string folder = LineAfter(out, "export ORVI_PORT_DIR=");
        ASSERT_FALSE(folder.empty()) << out;
        {
            ConsoleEnd console(folder + "/COM7");
            console.Send(kHousingRequest);
            const std::vector<uint8_t> reply = console.Receive(20);
            ASSERT_EQ(reply.size(), 20u);
            EXPECT_EQ(reply[4], 0x3A);
            EXPECT_EQ(reply[16], 0x00);
            EXPECT_EQ(reply[17], 0x00);
        }
        sim.Signal(signal);
        EXPECT_NE(sim.ReadUntil("Requests:").find("Requests: 1 housing"), std::string::npos);
        EXPECT_EQ(sim.Wait(), 0) << signal;
        EXPECT_FALSE(Exists(folder)) << signal;
    }
}

TEST(DeviceSimCommand, LinkInAGivenFolder) {
    char name[] = "/tmp/orvi-sim-cmd-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    const std::string folder = name;
    {
        SimProcess sim({"--port-dir", folder, "--port", "3"});
        const std::string out = sim.ReadUntil("Stop with");
        EXPECT_EQ(LineAfter(out, "export ORVI_PORT_DIR="), folder);
        EXPECT_TRUE(Exists(folder + "/COM3"));
        sim.Signal(SIGTERM);
        EXPECT_EQ(sim.Wait(), 0);
    }
    EXPECT_FALSE(Exists(folder + "/COM3"));
    EXPECT_EQ(rmdir(name), 0);
}

} // namespace
} // namespace orvi::sim
