#include "mqtt/Client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace orvi::mqtt {

namespace {

constexpr int kKeepAliveS = 15;
constexpr int kLoopWaitMs = 100;
constexpr auto kFirstRetry = std::chrono::milliseconds(250);
constexpr auto kLastRetry = std::chrono::seconds(2);
constexpr auto kDisconnectWait = std::chrono::seconds(1);
constexpr uint32_t kSessionNeverExpires = 0xFFFFFFFF;

void InitLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

void YieldToOtherThreads() {
    setpriority(PRIO_PROCESS, id_t(gettid()), 10); // Linux: the nice value of this thread
}

std::string ResultText(int code) {
    return mosquitto_strerror(code);
}

// Lives as long as the owner or the network thread, whichever ends last.
struct TClient::TState {
    TClientSettings Settings;
    mosquitto* Handle = nullptr;
    std::atomic<bool> Connected{false};
    std::atomic<bool> Stopping{false};
    std::atomic<bool> Ended{false};

    // Guards Events: an event is delivered under it, and Stop clears Events under it, so no
    // event runs after Stop.
    std::mutex EventLock;
    TClientEvents* Events = nullptr;
    std::mutex ErrorLock; // guards LastError (the library logs from inside event handlers)
    std::string LastError; // the library's last error line (its TLS failures say most)

    // Wakes the network thread from a wait between connection attempts.
    std::mutex WaitLock;
    std::condition_variable Wake;

    ~TState() {
        if (Handle)
            mosquitto_destroy(Handle);
    }

    template <class F> void Deliver(F&& f) {
        std::lock_guard lock(EventLock);
        if (Events)
            f(*Events);
    }

    void Configure();
    void Run();
    bool ConnectOnce();
    std::string FailureText(int code);
    // True, with the refusal told and the client stopping, when `why` is a broker
    // certificate that the CA does not vouch for: trying again will not mend it.
    bool NotTrusted(const std::string& why);
    void Pause(std::chrono::milliseconds& retry);
};

namespace {

TClient::TState& StateOf(void* obj) {
    return *static_cast<TClient::TState*>(obj);
}

void OnConnect(mosquitto* m, void* obj, int reason, int, const mosquitto_property*) {
    TClient::TState& s = StateOf(obj);
    if (reason != 0) {
        s.Deliver([&](TClientEvents& e) {
            e.Disconnected(std::string("the broker refused the connection: ") +
                           mosquitto_reason_string(reason));
        });
        return;
    }
    for (const std::string& topic : s.Settings.Subscriptions)
        mosquitto_subscribe_v5(m, nullptr, topic.c_str(), 1, 0, nullptr);
    s.Connected = true;
    s.Deliver([](TClientEvents& e) { e.Connected(); });
}

void OnPublish(mosquitto*, void* obj, int mid, int reason, const mosquitto_property*) {
    if (reason == 0 || reason == MQTT_RC_NO_MATCHING_SUBSCRIBERS)
        StateOf(obj).Deliver([&](TClientEvents& e) { e.Acknowledged(mid); });
    else
        StateOf(obj).Deliver(
            [&](TClientEvents& e) { e.Rejected(mid, mosquitto_reason_string(reason)); });
}

void OnMessage(mosquitto*, void* obj, const mosquitto_message* m, const mosquitto_property* p) {
    TMessage message;
    message.Topic = m->topic ? m->topic : "";
    message.Payload.assign(static_cast<const char*>(m->payload), size_t(m->payloadlen));
    bool first = true; // the next search starts at `at` itself, later ones after it
    for (const mosquitto_property* at = p; at; first = false) {
        char* name = nullptr;
        char* value = nullptr;
        at = mosquitto_property_read_string_pair(at, MQTT_PROP_USER_PROPERTY, &name, &value,
                                                 !first);
        if (at && name && value && std::strcmp(name, "log") == 0)
            message.Log.Name = value;
        if (at && name && value && std::strcmp(name, "log-start") == 0)
            message.Log.Start = value;
        std::free(name);
        std::free(value);
    }
    StateOf(obj).Deliver([&](TClientEvents& e) { e.Received(message); });
}

void OnLog(mosquitto*, void* obj, int level, const char* text) {
    if (level != MOSQ_LOG_ERR)
        return;
    TClient::TState& s = StateOf(obj);
    std::lock_guard lock(s.ErrorLock);
    s.LastError = text;
}

} // namespace

void TClient::TState::Configure() {
    InitLibraryOnce();
    Handle = mosquitto_new(Settings.ClientId.c_str(), false, this);
    if (!Handle)
        throw std::runtime_error("cannot make an MQTT client: " + std::string(strerror(errno)));
    mosquitto_int_option(Handle, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_threaded_set(Handle, true); // our own network thread calls mosquitto_loop
    mosquitto_connect_v5_callback_set(Handle, &OnConnect);
    mosquitto_publish_v5_callback_set(Handle, &OnPublish);
    mosquitto_message_v5_callback_set(Handle, &OnMessage);
    mosquitto_log_callback_set(Handle, &OnLog);
    const TBrokerUrl& url = Settings.Url;
    if (!url.User.empty()) {
        const char* password = Settings.Password ? Settings.Password->c_str() : nullptr;
        mosquitto_username_pw_set(Handle, url.User.c_str(), password);
    }
    if (url.Tls) {
        if (!Settings.CaFile.empty()) {
            if (mosquitto_tls_set(Handle, Settings.CaFile.c_str(), nullptr, nullptr, nullptr,
                                  nullptr) != MOSQ_ERR_SUCCESS)
                throw std::runtime_error("cannot read the CA file \"" + Settings.CaFile + "\"");
        } else {
            mosquitto_int_option(Handle, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        }
    }
    if (!Settings.WillTopic.empty()) {
        const int rc = mosquitto_will_set_v5(Handle, Settings.WillTopic.c_str(),
                                             int(Settings.WillPayload.size()),
                                             Settings.WillPayload.data(), 1, true, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            throw std::runtime_error("cannot set the Last Will: " + ResultText(rc));
    }
}

std::string TClient::TState::FailureText(int code) {
    if (code == MOSQ_ERR_ERRNO)
        return strerror(errno);
    std::lock_guard lock(ErrorLock);
    if ((code == MOSQ_ERR_TLS || code == MOSQ_ERR_PROTOCOL) && !LastError.empty())
        return ResultText(code) + " (" + LastError + ")";
    return ResultText(code);
}

// One connection attempt; blocking, as libmosquitto connects with MQTT 5 properties only so.
bool TClient::TState::ConnectOnce() {
    {
        std::lock_guard lock(ErrorLock);
        LastError.clear();
    }
    mosquitto_property* properties = nullptr;
    // A persistent session: the broker keeps it (and a subscriber's queued messages) however
    // long the client is away.
    mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                 kSessionNeverExpires);
    const int rc = mosquitto_connect_bind_v5(Handle, Settings.Url.Host.c_str(), Settings.Url.Port,
                                             kKeepAliveS, nullptr, properties);
    mosquitto_property_free_all(&properties);
    if (rc == MOSQ_ERR_SUCCESS)
        return true;
    const std::string why = FailureText(rc);
    if (NotTrusted(why))
        return false;
    const std::string where = Settings.Url.Host + ":" + std::to_string(Settings.Url.Port);
    Deliver([&](TClientEvents& e) { e.Disconnected("cannot connect to " + where + ": " + why); });
    return false;
}

bool TClient::TState::NotTrusted(const std::string& why) {
    if (why.find("certificate verify failed") == std::string::npos)
        return false;
    const std::string where = Settings.Url.Host + ":" + std::to_string(Settings.Url.Port);
    Deliver([&](TClientEvents& e) {
        e.Refused("the certificate of the broker " + where + " is not trusted" +
                  (Settings.CaFile.empty() ? " by the system's CAs"
                                           : " by the CA \"" + Settings.CaFile + "\"") +
                  ": " + why);
    });
    Stopping = true;
    return true;
}

void TClient::TState::Pause(std::chrono::milliseconds& retry) {
    std::unique_lock lock(WaitLock);
    Wake.wait_for(lock, retry, [this] { return Stopping.load(); });
    retry = std::min<std::chrono::milliseconds>(retry * 2, kLastRetry);
}

void TClient::TState::Run() {
    if (Settings.Background)
        YieldToOtherThreads();
    auto retry = std::chrono::milliseconds(kFirstRetry);
    while (!Stopping) {
        if (!ConnectOnce()) {
            Pause(retry);
            continue;
        }
        int rc = MOSQ_ERR_SUCCESS;
        std::optional<std::chrono::steady_clock::time_point> givenUpAt;
        while (rc == MOSQ_ERR_SUCCESS) {
            rc = mosquitto_loop(Handle, kLoopWaitMs, 1);
            if (Stopping && !givenUpAt) {
                // A clean end: the broker drops the Last Will. The loop sends the request
                // and ends when the library has closed the connection.
                mosquitto_disconnect_v5(Handle, 0, nullptr);
                givenUpAt = std::chrono::steady_clock::now() + kDisconnectWait;
            }
            if (givenUpAt && std::chrono::steady_clock::now() > *givenUpAt)
                break;
        }
        const bool wasConnected = Connected.exchange(false);
        if (wasConnected)
            retry = kFirstRetry;
        if (Stopping)
            break;
        const std::string why = FailureText(rc);
        // The TLS handshake may end in the loop rather than in the connect.
        if (NotTrusted(why))
            break;
        Deliver([&](TClientEvents& e) { e.Disconnected("connection lost: " + why); });
        Pause(retry);
    }
    Ended = true;
}

TClient::TClient(TClientSettings settings, TClientEvents& events)
    : state_(std::make_shared<TState>()) {
    state_->Settings = std::move(settings);
    state_->Events = &events;
    state_->Configure();
}

TClient::~TClient() {
    Stop(std::chrono::milliseconds(0));
}

void TClient::Start() {
    std::thread([state = state_] { state->Run(); }).detach();
}

bool TClient::Connected() const {
    return state_->Connected;
}

bool TClient::Publish(const std::string& topic, const std::string& payload, bool retain,
                      const TLogTags& log, int& messageId, std::string& why) {
    mosquitto_property* properties = nullptr;
    for (const auto& [name, value] : {std::pair{"log", &log.Name}, {"log-start", &log.Start}}) {
        if (!value->empty())
            mosquitto_property_add_string_pair(&properties, MQTT_PROP_USER_PROPERTY, name,
                                               value->c_str());
    }
    const int rc = mosquitto_publish_v5(state_->Handle, &messageId, topic.c_str(),
                                        int(payload.size()), payload.data(), 1, retain,
                                        properties);
    mosquitto_property_free_all(&properties);
    if (rc != MOSQ_ERR_SUCCESS)
        why = ResultText(rc);
    return rc == MOSQ_ERR_SUCCESS;
}

void TClient::Stop(std::chrono::milliseconds bound) {
    {
        std::lock_guard lock(state_->EventLock);
        if (!state_->Events)
            return;
        state_->Events = nullptr;
    }
    {
        std::lock_guard lock(state_->WaitLock);
        state_->Stopping = true;
    }
    state_->Wake.notify_all();
    const auto until = std::chrono::steady_clock::now() + bound;
    while (!state_->Ended && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

} // namespace orvi::mqtt
