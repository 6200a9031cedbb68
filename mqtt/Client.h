#pragma once
// An MQTT client over Debian's libmosquitto (MQTT 5, QoS 1): a persistent session under a
// stable client id, TLS when the URL asks for it, a retained Last Will, and a network thread
// of its own that connects, keeps the connection and connects again after every loss until
// stopped. No protocol code of our own: the library frames, sends, retries and acknowledges.
//
// Threads: a TClient is made, started, stopped and destroyed by one owner thread; Publish
// and Connected may be called from any thread. Its network thread (started by Start) calls
// the TClientEvents; no event arrives once Stop has returned.
#include "mqtt/BrokerUrl.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace orvi::mqtt {

struct TClientSettings {
    TBrokerUrl Url;
    std::optional<std::string> Password; // with Url.User; never logged
    std::string CaFile;                  // mqtts: the CA to trust; empty: the system's CAs
    std::string ClientId;                // stable across starts (StableClientId)
    std::string WillTopic;               // empty: no Last Will
    std::string WillPayload;             // sent retained, QoS 1, when the connection dies
    std::vector<std::string> Subscriptions; // subscribed with QoS 1 on every connection
    bool Background = false; // the network thread yields to the process's other threads
};

// Which data log a record comes from, as MQTT 5 user properties (an empty one is not sent).
struct TLogTags {
    std::string Name;  // "log": the log's file name
    std::string Start; // "log-start": its first record's UTC time in ms, in decimal digits;
                       // tells a log begun again under the same name from the one before
};

struct TMessage {
    std::string Topic;
    std::string Payload;
    TLogTags Log; // empty where the message has no such property
};

// Called on the client's network thread. A handler must not call Stop.
class TClientEvents {
public:
    virtual ~TClientEvents() = default;
    virtual void Connected() {}
    // The connection failed or was lost; the client tries again. `why` in words.
    virtual void Disconnected(const std::string& why) { (void)why; }
    // A failure that trying again will not mend (the broker's certificate is not trusted by
    // the CA): the client stops trying.
    virtual void Refused(const std::string& why) { (void)why; }
    // The broker acknowledged the QoS 1 message that Publish gave this id.
    virtual void Acknowledged(int messageId) { (void)messageId; }
    // The broker answered the message with a refusal (not authorised, quota exceeded):
    // it will not take it; `why` in words.
    virtual void Rejected(int messageId, const std::string& why) {
        (void)messageId;
        (void)why;
    }
    virtual void Received(const TMessage& message) { (void)message; }
};

class TClient {
public:
    // Throws std::runtime_error in words when the settings cannot be used (a CA file that
    // cannot be read).
    TClient(TClientSettings settings, TClientEvents& events);
    ~TClient();
    TClient(const TClient&) = delete;
    TClient& operator=(const TClient&) = delete;

    // Starts the network thread; it connects (now, or as soon as the broker can be reached).
    void Start();
    bool Connected() const;

    // Queues a QoS 1 message with the user properties of `log`. The library sends it once
    // connected and again after a lost connection until the broker acknowledges it. False,
    // with `why` in words, when the library refuses it.
    bool Publish(const std::string& topic, const std::string& payload, bool retain,
                 const TLogTags& log, int& messageId, std::string& why);

    // Disconnects cleanly (the Last Will is not sent) and ends the network thread, waiting
    // at most `bound` for it (a connection attempt in progress to a host that does not answer
    // is left to end on its own; no event arrives after this). Safe to call twice.
    void Stop(std::chrono::milliseconds bound = std::chrono::seconds(2));

    struct TState; // Client.cpp's own; named here for the library's callbacks

private:
    std::shared_ptr<TState> state_; // shared with the network thread, which may outlive Stop
};

// Lowers the calling thread's scheduling priority (nice 10), so that a busy output thread
// never holds up a poll on a loaded machine.
void YieldToOtherThreads();

// The words for one of libmosquitto's result codes (mosquitto_strerror).
std::string ResultText(int code);

} // namespace orvi::mqtt
