// End to end through a real MQTT broker of the test's own on 127.0.0.1: orvi_acquire --json
// | mosquitto_pub -l read back by mosquitto_sub, and orvi_acquire --mqtt's store and forward
// across broker outages, a broker down at the start and restarts of orvi_acquire itself
// (SIGKILL included), its status topic, TLS, the service manager's notifications, and
// orvi_collect against two stands. Skipped, with a message, only when the programs are
// missing.
#include "acquire/LogQueue.h"
#include "app/RecordFields.h"
#include "tests/acquire/Mosquitto.h"
#include "tools/simulator/DeviceSimulator.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

namespace orvi::acquire::test {
namespace {

using orvi::testing::FileBytes;

const std::string kCollect = ORVI_COLLECT_PATH;

#define SKIP_WITHOUT_MOSQUITTO()                                                            \
    if (TBroker::Program().empty())                                                          \
    GTEST_SKIP() << "mosquitto is missing: apt-get install mosquitto "                       \
                    "(scripts/install-deps.sh --tests)"

// "2026-12-09T10:15:59.123Z" in milliseconds since 1970.
int64_t UtcMs(const std::string& stamp) {
    std::tm t{};
    int ms = 0;
    std::sscanf(stamp.c_str(), "\"%d-%d-%dT%d:%d:%d.%dZ\"", &t.tm_year, &t.tm_mon, &t.tm_mday,
                &t.tm_hour, &t.tm_min, &t.tm_sec, &ms);
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return int64_t(timegm(&t)) * 1000 + ms;
}

// Every record of every data log in `dir` arrived on `topic`: each log's records in order
// and whole, the logs one after the other, oldest first; a repeat only of a record already
// seen. The fields are the log line's, the time the first record's plus the ticks between.
void ExpectEveryLoggedRecord(const std::string& dir, const std::vector<mqtt::TMessage>& messages,
                             const std::string& topic) {
    std::map<std::string, std::vector<std::string>> logs;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".txt")
            continue;
        bool whole = false;
        logs[entry.path().filename().string()] =
            LogLines(FileBytes(entry.path().string()), whole);
        EXPECT_TRUE(whole) << entry.path();
    }
    std::map<std::string, uint64_t> highest;
    std::map<std::string, std::pair<int64_t, int64_t>> first; // tick and time of seq 1
    std::vector<std::string> order;
    std::map<std::string, size_t> repeats;
    for (const mqtt::TMessage& m : messages) {
        if (m.Topic != topic)
            continue;
        ASSERT_TRUE(logs.count(m.Log.Name)) << "a message of no log: " << m.Log.Name;
        const uint64_t seq = std::stoull(Member(m.Payload, "seq"));
        if (seq <= highest[m.Log.Name]) {
            ++repeats[m.Log.Name];
            continue;
        }
        ASSERT_EQ(seq, highest[m.Log.Name] + 1) << m.Log.Name << ": a record was skipped";
        highest[m.Log.Name] = seq;
        std::string fields;
        for (const app::TRecordField& field : app::RecordFields()) {
            if (!fields.empty())
                fields += ' ';
            fields += Member(m.Payload, field.Key);
        }
        ASSERT_LE(seq, logs[m.Log.Name].size());
        EXPECT_EQ(fields, logs[m.Log.Name][seq - 1]) << m.Log.Name << " record " << seq;
        const int64_t tick = std::stoll(Member(m.Payload, "tick"));
        const int64_t time = UtcMs(Member(m.Payload, "time"));
        if (seq == 1)
            first[m.Log.Name] = {tick, time};
        EXPECT_EQ(time - first[m.Log.Name].second, tick - first[m.Log.Name].first)
            << "the measurement time follows the tick: " << m.Log.Name << " record " << seq;
        if (order.empty() || order.back() != m.Log.Name)
            order.push_back(m.Log.Name);
    }
    std::vector<std::pair<int64_t, std::string>> started;
    for (const auto& [name, lines] : logs) {
        started.emplace_back(ReadClock(dir + "/" + name).value_or(TLogClock{}).UtcMs, name);
        EXPECT_EQ(highest[name], lines.size()) << name << ": records missing";
    }
    std::sort(started.begin(), started.end());
    std::vector<std::string> names;
    for (const auto& [start, name] : started)
        names.push_back(name);
    EXPECT_EQ(order, names) << "the logs one after the other, oldest first";
    if (const char* dump = std::getenv("ORVI_TEST_DUMP")) {
        std::ofstream out(dump);
        for (const mqtt::TMessage& m : messages)
            out << m.Topic << " " << m.Log.Name << " " << Member(m.Payload, "seq") << "\n";
    }
    for (const auto& [name, lines] : logs)
        std::cout << name << ": " << lines.size() << " records, " << repeats[name]
                  << " repeated\n";
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

class AcquireMqttStore : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return files.FilePath(name); }
    std::unique_ptr<TProcess> Acquire(std::vector<std::string> args, const std::string& out) {
        args.insert(args.begin(), kAcquire);
        return std::make_unique<TProcess>(args, ports.Path(), Path(out + ".out"),
                                          Path(out + ".err"));
    }

    orvi::testing::TempDir ports, files;
};

// One run of the story of a stand: the broker down at the start, back 5 s later; killed for
// 10 s in the middle of a run, during which orvi_acquire is killed too and started again on
// the same folder; orvi_acquire killed with the broker up (the Last Will), and a last run
// that ends cleanly ("stopped"). The subscriber's persistent session gets every record of the
// three logs.
TEST_F(AcquireMqttStore, EveryRecordOfTheLogsArrivesAcrossOutagesAndRestarts) {
    SKIP_WITHOUT_MOSQUITTO();
    std::filesystem::create_directories(Path("broker"));
    std::filesystem::create_directories(Path("logs"));
    TBroker broker(Path("broker"));
    broker.Start();
    const std::string topic = "lab/stand1", status = topic + "/status";
    TSubscriber subscriber(broker.Port(), {topic, status}, "test-subscriber");
    ASSERT_TRUE(Until([&] { return subscriber.Connections() == 1; }));
    broker.Stop(); // it keeps the subscriber's session

    sim::DeviceSimulator device(sim::Scenario{}, sim::PortSetup{5, ports.Path()});
    const std::vector<std::string> args = {
        "--port", "COM5", "--log-dir", Path("logs"), "--mqtt",
        "mqtt://127.0.0.1:" + std::to_string(broker.Port()) + "/" + topic};
    auto first = Acquire(args, "first");
    platform::SleepMs(5000);
    broker.Start();
    ASSERT_TRUE(Until([&] { return subscriber.Count(topic) >= 50; }))
        << FileBytes(Path("first.err")) << subscriber.Connections() << " connections, " << subscriber.Messages().size() << " messages " << FileBytes(Path("broker/broker.err"));

    // The broker acknowledges a record before it has saved or delivered it: killed while a
    // burst waits in its queue, it would lose what it took. It is killed once the subscriber
    // has caught up with the log.
    ASSERT_TRUE(Until([&] {
        size_t logged = 0;
        for (const auto& entry : std::filesystem::directory_iterator(Path("logs"))) {
            bool whole = false;
            if (entry.path().extension() == ".txt")
                logged += LogLines(FileBytes(entry.path().string()), whole).size();
        }
        return subscriber.Count(topic) >= logged;
    }));
    broker.Kill();
    platform::SleepMs(2000);
    first->Signal(SIGKILL);
    first->Wait();
    auto second = Acquire(args, "second");
    platform::SleepMs(8000);
    broker.Start();
    const size_t before = subscriber.Count(topic);
    ASSERT_TRUE(Until([&] { return subscriber.Count(topic) >= before + 400; }))
        << FileBytes(Path("second.err"));
    EXPECT_TRUE(subscriber.LastHas(status, "\"online\""));
    second->Signal(SIGKILL);
    second->Wait();
    EXPECT_TRUE(Until([&] { return subscriber.LastHas(status, "\"offline\""); }))
        << "the Last Will";

    std::vector<std::string> last = args;
    last.insert(last.end(), {"--duration", "2s"});
    EXPECT_EQ(Acquire(last, "third")->Wait(), 0) << FileBytes(Path("third.err"));
    EXPECT_TRUE(Until([&] { return subscriber.LastHas(status, "\"stopped\""); }));
    EXPECT_TRUE(subscriber.LastHas(status, "\"version\":\"" ORVI_VERSION "\""));
    const std::string said = FileBytes(Path("second.err"));
    EXPECT_NE(said.find("the broker is out of reach"), std::string::npos) << said;

    // Once the third run's log is acknowledged to its end, nothing is left to forward.
    ASSERT_TRUE(Until([&] {
        return LogsToForward(Path("logs"), Path("none")).empty();
    })) << "the acknowledged positions reach the ends of the logs";
    ExpectEveryLoggedRecord(Path("logs"), subscriber.Messages(), topic);
}

// The service manager hears READY, the status with the backlog, watchdog pings and STOPPING
// through NOTIFY_SOCKET; lines go to the journal with their priority; without a log the
// memory queue keeps the newest records and tells what fell off.
TEST_F(AcquireMqttStore, ServiceNotificationsJournalPrioritiesAndTheMemoryQueue) {
    const std::string socketPath = Path("notify");
    const int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // The journal is told by the device and inode of standard error: the test's err file.
    std::ofstream(Path("plain.err")).flush();
    struct stat st {};
    stat(Path("plain.err").c_str(), &st);
    setenv("NOTIFY_SOCKET", socketPath.c_str(), 1);
    setenv("WATCHDOG_USEC", "100000", 1);
    setenv("JOURNAL_STREAM", (std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).c_str(), 1);
    sim::DeviceSimulator device(sim::Scenario{}, sim::PortSetup{5, ports.Path()});
    // A port that no broker listens on: every record waits, the queue holds 5 of them.
    const std::string url = "mqtt://127.0.0.1:" + std::to_string(FreePort()) + "/t";
    // Read as the service manager does, at once: a full socket would hold the sender up.
    std::string heard;
    std::atomic<bool> done{false};
    std::thread listener([&] {
        char datagram[4096];
        while (!done) {
            const ssize_t n = recv(s, datagram, sizeof datagram, 0);
            if (n > 0)
                heard += std::string(datagram, size_t(n)) + "\n";
            else
                platform::SleepMs(2);
        }
    });
    TProcess run({kAcquire, "--port", "COM5", "--polls", "40", "--mqtt", url, "--mqtt-queue",
                  "5", "--mqtt-drain", "0"},
                 ports.Path(), Path("plain.out"), Path("plain.err"));
    const int status = run.Wait();
    done = true;
    listener.join();
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    unsetenv("JOURNAL_STREAM");
    close(s);
    const std::string said = FileBytes(Path("plain.err"));
    EXPECT_EQ(status, 0) << "a broker away changes no exit status: " << said;
    for (const char* line : {"READY=1\n", "STATUS=polls ", "backlog", "WATCHDOG=1\n",
                             "STOPPING=1\n"})
        EXPECT_NE(heard.find(line), std::string::npos) << line << " in " << heard;
    for (const char* line : {"<4>orvi_acquire: the broker is out of reach",
                             "<4>orvi_acquire: the memory queue is full (5 records)",
                             "<4>orvi_acquire: 35 records fell off the memory queue",
                             "<4>orvi_acquire: 5 records not acknowledged"})
        EXPECT_NE(said.find(line), std::string::npos) << line << " in " << said;
}

// TLS with a CA of the test's own: the records arrive; a broker whose certificate another CA
// signed is refused in words, with status 3.
TEST_F(AcquireMqttStore, TlsWithTheRightCaAndRefusedWithAWrongOne) {
    SKIP_WITHOUT_MOSQUITTO();
    const std::string dir = Path("tls");
    std::filesystem::create_directories(dir);
    if (Which("openssl").empty() || !MakeCertificates(dir, "test", true) ||
        !MakeCertificates(dir, "other", false))
        GTEST_SKIP() << "openssl is missing or failed";
    const int tlsPort = FreePort();
    TBroker broker(dir, "listener " + std::to_string(tlsPort) + " 127.0.0.1\ncafile " + dir +
                            "/test-ca.pem\ncertfile " + dir + "/server.pem\nkeyfile " + dir +
                            "/server.key\n");
    broker.Start();
    ASSERT_TRUE(Until([&] { return Listening(tlsPort); })) << FileBytes(dir + "/broker.err");
    TSubscriber subscriber(broker.Port(), {"tls/1"}, "tls-subscriber");
    ASSERT_TRUE(Until([&] { return subscriber.Connections() == 1; }))
        << FileBytes(dir + "/broker.err");
    sim::DeviceSimulator device(sim::Scenario{}, sim::PortSetup{5, ports.Path()});
    const std::string url = "mqtts://127.0.0.1:" + std::to_string(tlsPort) + "/tls/1";
    EXPECT_EQ(Acquire({"--port", "COM5", "--polls", "20", "--log", Path("tls.txt"), "--mqtt",
                       url, "--mqtt-ca", dir + "/test-ca.pem"},
                      "right")
                  ->Wait(),
              0)
        << FileBytes(Path("right.err"));
    EXPECT_TRUE(Until([&] { return subscriber.Count("tls/1") >= 20; }));

    EXPECT_EQ(Acquire({"--port", "COM5", "--log", Path("wrong.txt"), "--mqtt", url,
                       "--mqtt-ca", dir + "/other-ca.pem"},
                      "wrong")
                  ->Wait(),
              3);
    const std::string said = FileBytes(Path("wrong.err"));
    EXPECT_NE(said.find("is not trusted by the CA \"" + dir + "/other-ca.pem\""),
              std::string::npos)
        << said;
    EXPECT_EQ(Acquire({"--port", "COM5", "--mqtt", "mqtp://host/t"}, "bad")->Wait(), 2);
}

// Two stands on one broker and the collector: each stand's collected logs are byte for byte
// the stand's own, a new file where the stand's log began one. A third stand's --log is
// rotated under its own name (renamed, then SIGHUP): the earlier log is collected whole as
// d.txt.1, the new one, counting from 1 again, as d.txt.
TEST_F(AcquireMqttStore, TheCollectorKeepsEachStandsLogsByteForByte) {
    SKIP_WITHOUT_MOSQUITTO();
    std::filesystem::create_directories(Path("broker"));
    TBroker broker(Path("broker"));
    broker.Start();
    const std::string prefix = "mqtt://127.0.0.1:" + std::to_string(broker.Port()) + "/lab";
    TProcess collector({kCollect, "--mqtt", prefix, "--dir", Path("central")}, ports.Path(),
                       Path("collect.out"), Path("collect.err"));
    ASSERT_TRUE(Until([&] {
        return FileBytes(Path("collect.err")).find("connected") != std::string::npos;
    })) << FileBytes(Path("collect.err"));
    sim::DeviceSimulator a(sim::Scenario{}, sim::PortSetup{5, ports.Path()});
    sim::DeviceSimulator b(sim::Scenario{}, sim::PortSetup{6, ports.Path()});
    for (const char* stand : {"a", "b", "c"})
        std::filesystem::create_directories(Path(stand));
    sim::DeviceSimulator c(sim::Scenario{}, sim::PortSetup{7, ports.Path()});
    auto rotated = Acquire({"--port", "COM7", "--log", Path("c/d.txt"), "--mqtt", prefix + "/c"},
                           "c");
    const auto collectedLines = [&](const std::string& file) {
        bool whole = false;
        return LogLines(FileBytes(Path("central/c/" + file)), whole).size();
    };
    ASSERT_TRUE(Until([&] { return collectedLines("d.txt") >= 5; })) << FileBytes(Path("c.err"));
    std::filesystem::rename(Path("c/d.txt"), Path("c/d.txt.1"));
    rotated->Signal(SIGHUP);
    for (int round = 0; round < 2; ++round) {
        auto one = Acquire({"--port", "COM5", "--polls", "60", "--log-dir", Path("a"),
                            "--mqtt", prefix + "/a"},
                           "a");
        auto two = Acquire({"--port", "COM6", "--polls", "60", "--log-dir", Path("b"),
                            "--mqtt", prefix + "/b"},
                           "b");
        EXPECT_EQ(one->Wait(), 0) << FileBytes(Path("a.err"));
        EXPECT_EQ(two->Wait(), 0) << FileBytes(Path("b.err"));
    }
    for (const char* stand : {"a", "b"}) {
        size_t logs = 0;
        for (const auto& entry : std::filesystem::directory_iterator(Path(stand))) {
            if (entry.path().extension() != ".txt")
                continue;
            ++logs;
            const std::string collected =
                Path("central") + "/" + stand + "/" + entry.path().filename().string();
            EXPECT_TRUE(Until([&] {
                return FileBytes(collected) == FileBytes(entry.path().string());
            })) << collected;
        }
        EXPECT_EQ(logs, 2u) << "a new log per run";
    }
    ASSERT_TRUE(Until([&] { return collectedLines("d.txt.1") >= 5; }))
        << FileBytes(Path("collect.err"));
    rotated->Signal(SIGTERM);
    EXPECT_EQ(rotated->Wait(), 0) << FileBytes(Path("c.err"));
    for (const char* log : {"d.txt", "d.txt.1"}) {
        EXPECT_TRUE(Until([&] {
            return FileBytes(Path("central/c/") + log) == FileBytes(Path("c/") + log);
        })) << log << ": " << FileBytes(Path("collect.err"));
    }
    collector.Signal(SIGTERM);
    EXPECT_EQ(collector.Wait(), 0) << FileBytes(Path("collect.err"));
}

} // namespace
} // namespace orvi::acquire::test
