// End to end through a real MQTT broker: orvi_acquire --json | mosquitto_pub -l on a broker
// of the test's own on 127.0.0.1, read back by mosquitto_sub. Every record of the data log
// arrives once, in order. Skipped, with a message, only when the programs are missing.
#include "app/RecordFields.h"
#include "tests/acquire/AcquireProcess.h"
#include "tools/simulator/DeviceSimulator.h"

#include <arpa/inet.h>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace orvi::acquire::test {
namespace {

using orvi::testing::FileBytes;

std::string Which(const std::string& name) {
    for (const char* dir : {"/usr/bin", "/usr/sbin", "/usr/local/bin", "/usr/local/sbin"}) {
        const std::string path = std::string(dir) + "/" + name;
        if (access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

// A loopback port that nothing listens on just now.
int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), size);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    close(s);
    return ntohs(a.sin_port);
}

bool Listening(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

template <class Pred> bool Until(Pred done) {
    for (int waited = 0; !done(); waited += 10) {
        if (waited > 10000)
            return false;
        platform::SleepMs(10);
    }
    return true;
}

TEST(AcquireMqtt, EveryLoggedRecordArrivesOnceInOrder) {
    const std::string broker = Which("mosquitto"), pub = Which("mosquitto_pub"),
                      sub = Which("mosquitto_sub");
    if (broker.empty() || pub.empty() || sub.empty())
        GTEST_SKIP() << "mosquitto, mosquitto_pub or mosquitto_sub is missing: "
                        "apt-get install mosquitto mosquitto-clients "
                        "(scripts/install-deps.sh --tests)";
    orvi::testing::TempDir ports, files;
    const auto path = [&](const char* name) { return files.FilePath(name); };
    const std::string port = std::to_string(FreePort());
    std::ofstream(path("mq.conf"))
        << "listener " << port << " 127.0.0.1\nallow_anonymous true\npersistence false\n"
        << "log_dest stderr\nlog_type subscribe\n";
    TProcess server({broker, "-c", path("mq.conf")}, ports.Path(), path("broker.out"),
                    path("broker.err"));
    ASSERT_TRUE(Until([&] { return Listening(std::stoi(port)); })) << FileBytes(path("broker.err"));

    constexpr int kRecords = 30;
    TProcess reader({sub, "-h", "127.0.0.1", "-p", port, "-t", "stand/1", "-q", "1", "-C",
                     std::to_string(kRecords)},
                    ports.Path(), path("sub.out"), path("sub.err"));
    // The broker logs the subscription ("<client> 1 stand/1") once it is in place; nothing
    // may be published before.
    ASSERT_TRUE(Until([&] {
        return FileBytes(path("broker.err")).find(" stand/1") != std::string::npos;
    })) << FileBytes(path("broker.err"));

    sim::DeviceSimulator device(sim::Scenario{}, sim::PortSetup{5, ports.Path()});
    const std::string pipeline = kAcquire + " --port COM5 --json --polls " +
                                 std::to_string(kRecords) + " --log " + path("log.txt") + " | " +
                                 pub + " -h 127.0.0.1 -p " + port + " -t stand/1 -l -q 1";
    TProcess publisher({"/bin/sh", "-c", pipeline}, ports.Path(), path("pub.out"), path("pub.err"));
    EXPECT_EQ(publisher.Wait(), 0) << FileBytes(path("pub.err"));
    EXPECT_EQ(reader.Wait(), 0) << FileBytes(path("sub.err"));
    server.Signal(SIGTERM);
    server.Wait();

    std::vector<std::string> received;
    const std::string out = FileBytes(path("sub.out"));
    for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
        received.push_back(out.substr(at, end - at));
    }
    bool whole = false;
    const std::vector<std::string> logged = LogLines(FileBytes(path("log.txt")), whole);
    ASSERT_EQ(logged.size(), size_t(kRecords));
    ASSERT_EQ(received.size(), logged.size()) << out;
    for (size_t i = 0; i < logged.size(); ++i) {
        std::string fields;
        for (const app::TRecordField& field : app::RecordFields())
            (fields += fields.empty() ? "" : " ") += Member(received[i], field.Key);
        EXPECT_EQ(fields, logged[i]) << "message " << i;
    }
}

} // namespace
} // namespace orvi::acquire::test
