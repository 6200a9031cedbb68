#pragma once
// A private mosquitto for a test: on 127.0.0.1 on a free port, persistence on in a folder of
// the test's own, killed (SIGKILL) and started again on the same port and folder; a test CA
// and server certificate made with openssl for its TLS listener; and a subscriber in the
// test's process with a persistent session. Tests skip, with a message, when mosquitto or
// openssl is missing.
#include "mqtt/Client.h"
#include "tests/acquire/AcquireProcess.h"
#include "tools/bench_support/BenchSupport.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>

namespace orvi::acquire::test {

inline std::string Which(const std::string& name) {
    for (const char* dir : {"/usr/bin", "/usr/sbin", "/usr/local/bin", "/usr/local/sbin"}) {
        const std::string path = std::string(dir) + "/" + name;
        if (access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

using orvi::bench::FreePort;
using orvi::bench::Listening;

template <class Pred> bool Until(Pred done, int limitMs = 15000) {
    for (int waited = 0; !done(); waited += 10) {
        if (waited > limitMs)
            return false;
        platform::SleepMs(10);
    }
    return true;
}

// `tls` lines are added to the configuration (a TLS listener of the test's own).
class TBroker {
public:
    explicit TBroker(const std::string& dir, const std::string& more = {})
        : dir_(dir), port_(FreePort()) {
        // Started as root, mosquitto drops to its own user, which must write its database.
        std::filesystem::permissions(dir_, std::filesystem::perms::all);
        std::ofstream(dir_ + "/mq.conf")
            << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n"
            << "log_dest stderr\nlog_type all\npersistence true\npersistence_location " << dir_ << "/\nautosave_interval 1\n"
            << more;
    }
    static std::string Program() { return Which("mosquitto"); }
    int Port() const { return port_; }

    void Start() {
        process_ = std::make_unique<TProcess>(
            std::vector<std::string>{Program(), "-c", dir_ + "/mq.conf"}, dir_,
            dir_ + "/broker.out", dir_ + "/broker.err");
        Until([&] { return Listening(port_); });
    }
    void Kill() {
        process_->Signal(SIGKILL);
        process_->Wait();
    }
    // Ends it as a service manager does: it saves its sessions first.
    void Stop() {
        process_->Signal(SIGTERM);
        process_->Wait();
    }

private:
    std::string dir_;
    int port_;
    std::unique_ptr<TProcess> process_;
};

// Makes DIR/<name>-ca.pem and, signed by it, DIR/server.pem and DIR/server.key for
// 127.0.0.1; false when openssl fails.
inline bool MakeCertificates(const std::string& dir, const std::string& name, bool server) {
    const std::string ca = dir + "/" + name + "-ca";
    std::string script = "cd '" + dir + "' && (openssl req -x509 -newkey rsa:2048 -nodes -days 2 " +
                         "-subj /CN=" + name + " -keyout " + ca + ".key -out " + ca + ".pem";
    if (server)
        script += " && openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 "
                  "-keyout server.key -out server.csr && printf 'subjectAltName=IP:127.0.0.1' "
                  "> san.ext && openssl x509 -req -in server.csr -CA " +
                  ca + ".pem -CAkey " + ca + ".key -CAcreateserial -days 2 -extfile san.ext " +
                  "-out server.pem";
    // Readable by the broker, which drops to a user of its own when started as root.
    script += " && chmod 644 *.pem *.key) >/dev/null 2>&1";
    return std::system(script.c_str()) == 0;
}

// A subscriber with a persistent session, keeping every message it receives.
class TSubscriber : public mqtt::TClientEvents {
public:
    TSubscriber(int port, std::vector<std::string> topics, const std::string& id) {
        mqtt::TClientSettings settings;
        settings.Url.Host = "127.0.0.1";
        settings.Url.Port = port;
        settings.ClientId = id;
        settings.Subscriptions = std::move(topics);
        client_ = std::make_unique<mqtt::TClient>(settings, *this);
        client_->Start();
    }
    ~TSubscriber() override { client_->Stop(); }

    void Connected() override {
        std::lock_guard lock(lock_);
        ++connections_;
    }
    void Received(const mqtt::TMessage& message) override {
        std::lock_guard lock(lock_);
        messages_.push_back(message);
    }
    std::vector<mqtt::TMessage> Messages() {
        std::lock_guard lock(lock_);
        return messages_;
    }
    int Connections() {
        std::lock_guard lock(lock_);
        return connections_;
    }
    // Messages on `topic`.
    size_t Count(const std::string& topic) {
        std::lock_guard lock(lock_);
        size_t n = 0;
        for (const mqtt::TMessage& m : messages_)
            n += m.Topic == topic;
        return n;
    }
    // The last message on `topic` holds `text`.
    bool LastHas(const std::string& topic, const std::string& text) {
        std::lock_guard lock(lock_);
        for (auto m = messages_.rbegin(); m != messages_.rend(); ++m) {
            if (m->Topic == topic)
                return m->Payload.find(text) != std::string::npos;
        }
        return false;
    }

private:
    std::unique_ptr<mqtt::TClient> client_;
    std::mutex lock_;
    std::vector<mqtt::TMessage> messages_;
    int connections_ = 0;
};

} // namespace orvi::acquire::test
