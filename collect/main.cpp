// orvi_collect: every stand's records from the broker into data logs under a folder. See
// --help.
#include "acquire/Options.h"
#include "acquire/Output.h"
#include "acquire/OutputReport.h"
#include "acquire/ServiceNotify.h"
#include "acquire/Signals.h"
#include "collect/Collector.h"
#include "collect/Options.h"
#include "mqtt/Client.h"
#include "platform/Clock.h"

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <unistd.h>
#include <utility>

namespace orvi::collect {

namespace {

// What the network thread hands the main thread: notes, counts and a failure.
//
// Threads: the client's network thread calls the events; the main thread takes notes and
// counts. Everything below is guarded by lock_.
class TCollectRun : public mqtt::TClientEvents {
public:
    explicit TCollectRun(const std::string& dir) : collector_(dir) {}

    void Received(const mqtt::TMessage& message) override {
        const std::string stand = message.Topic.substr(message.Topic.rfind('/') + 1);
        std::string why;
        std::lock_guard lock(lock_);
        if (failure_)
            return;
        try {
            if (collector_.Store(stand, message.Log.Name, message.Log.Start, message.Payload,
                                 why) == TCollector::TResult::Rejected)
                why = "a message on " + message.Topic + " is dropped: " + why;
        } catch (const std::exception& e) {
            failure_ = acquire::TOutputFailure{acquire::kRunFailed, e.what()};
        }
        if (!why.empty())
            notes_.push_back({acquire::TSeverity::Warning, why});
    }
    void Connected() override {
        std::lock_guard lock(lock_);
        notes_.push_back({acquire::TSeverity::Notice, "connected to the broker"});
        outageTold_ = false;
    }
    void Disconnected(const std::string& why) override {
        std::lock_guard lock(lock_);
        if (!outageTold_)
            notes_.push_back({acquire::TSeverity::Warning, "the broker is out of reach (" + why +
                                                               "); its session keeps the records"});
        outageTold_ = true;
    }
    void Refused(const std::string& why) override {
        std::lock_guard lock(lock_);
        failure_ = acquire::TOutputFailure{acquire::kNoPort, why};
    }

    std::vector<acquire::TNote> TakeNotes() {
        std::lock_guard lock(lock_);
        return std::exchange(notes_, {});
    }
    std::optional<acquire::TOutputFailure> Failure() {
        std::lock_guard lock(lock_);
        return failure_;
    }
    std::string Counts() {
        std::lock_guard lock(lock_);
        return "records " + std::to_string(collector_.Written()) + ", repeats dropped " +
               std::to_string(collector_.Repeats());
    }
    // Closes the logs; false with the reason told when one could not be closed.
    void CloseAll() {
        std::lock_guard lock(lock_);
        try {
            collector_.CloseAll();
        } catch (const std::exception& e) {
            if (!failure_)
                failure_ = acquire::TOutputFailure{acquire::kRunFailed, e.what()};
        }
    }

private:
    std::mutex lock_;
    TCollector collector_;
    std::vector<acquire::TNote> notes_;
    std::optional<acquire::TOutputFailure> failure_;
    bool outageTold_ = false;
};

std::string HostName() {
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 ? name : "localhost";
}

// The client's settings from the command line; empty with `error` in words.
std::optional<mqtt::TClientSettings> Settings(const TCollectOptions& o, std::string& error) {
    std::string why;
    const auto url = mqtt::ParseBrokerUrl(o.Mqtt, why);
    const auto password = url ? mqtt::ReadPassword(o.MqttPasswordFile, why) : std::nullopt;
    if (!url || !password) {
        error = (url ? "--mqtt-password-file: " : "--mqtt: ") + why;
        return std::nullopt;
    }
    mqtt::TClientSettings settings;
    settings.Url = *url;
    if (!password->empty())
        settings.Password = *password;
    settings.CaFile = o.MqttCa;
    settings.ClientId = o.MqttClientId.empty()
                            ? mqtt::StableClientId("orvi_collect", HostName(), url->Topic)
                            : o.MqttClientId;
    settings.Subscriptions = {url->Topic + "/+"};
    return settings;
}

int Collect(const TCollectOptions& o, const mqtt::TClientSettings& settings,
            acquire::TStopRequests& requests) {
    acquire::TStatusLine say(stderr, false, "orvi_collect");
    std::error_code error;
    std::filesystem::create_directories(o.Dir, error);
    if (error) {
        say.Say("cannot make the folder \"" + o.Dir + "\": " + error.message());
        return acquire::kRunFailed;
    }
    TCollectRun run(o.Dir);
    std::unique_ptr<mqtt::TClient> client;
    try {
        client = std::make_unique<mqtt::TClient>(settings, run);
    } catch (const std::exception& e) {
        say.Say(e.what());
        return acquire::kBadCommandLine;
    }
    acquire::TServiceNotify service;
    client->Start();
    service.Ready();
    const auto started = std::chrono::steady_clock::now();
    const auto tell = [&] {
        for (const acquire::TNote& note : run.TakeNotes())
            say.Say(note.Text, note.Severity);
    };
    while (!requests.Stop && !run.Failure() &&
           !(o.DurationMs && std::chrono::steady_clock::now() - started >=
                                 std::chrono::milliseconds(*o.DurationMs))) {
        platform::SleepMs(20);
        if (requests.Reopen.exchange(false))
            run.CloseAll();
        tell();
        service.Alive();
        service.Status(run.Counts());
    }
    service.Stopping();
    client->Stop();
    run.CloseAll();
    tell();
    if (const auto failure = run.Failure()) {
        say.Say(failure->Text);
        return failure->ExitStatus;
    }
    return acquire::kEndedAsAsked;
}

} // namespace

} // namespace orvi::collect

int main(int argc, char** argv) {
    using namespace orvi::collect;
    const TParsedCommandLine line =
        ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (line.Options.Help) {
        std::fputs(UsageText().c_str(), stdout);
        return orvi::acquire::kEndedAsAsked;
    }
    if (line.Options.Version) {
        std::printf("orvi_collect %s\n", ORVI_VERSION);
        return orvi::acquire::kEndedAsAsked;
    }
    std::string error = line.Error;
    const auto settings = error.empty() ? Settings(line.Options, error) : std::nullopt;
    if (!settings) {
        std::fprintf(stderr, "orvi_collect: %s\n\n%s", error.c_str(), UsageText().c_str());
        return orvi::acquire::kBadCommandLine;
    }
    static orvi::acquire::TStopRequests requests;
    orvi::acquire::InstallStopHandlers(requests);
    return Collect(line.Options, *settings, requests);
}
