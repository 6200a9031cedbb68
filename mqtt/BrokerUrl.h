#pragma once
// Where an MQTT client goes and as whom: the broker's URL, the password (never on a command
// line), and a client id that stays the same from one start to the next. Pure functions but
// for the password's file and environment.
#include <optional>
#include <string>

namespace orvi::mqtt {

struct TBrokerUrl {
    bool Tls = false;  // mqtts://
    std::string User;  // empty: no login
    std::string Host;  // a name, an IPv4 address or an IPv6 address without its brackets
    int Port = 0;      // 1883, or 8883 with TLS, when the URL names none
    std::string Topic; // the path after the first "/": a topic without wildcards
};

// "mqtt://[user@]host[:port]/topic" or "mqtts://...". Empty, with `error` in words naming the
// text, when it is not one.
std::optional<TBrokerUrl> ParseBrokerUrl(const std::string& text, std::string& error);

// The environment variable that a password is taken from when no file names one.
inline constexpr const char* kPasswordVariable = "ORVI_MQTT_PASSWORD";

// The password: the first line of `file` (without its line end) when a file is named, else
// kPasswordVariable when set; empty and no error when neither gives one. Empty with `error`
// in words when the file cannot be read.
std::optional<std::string> ReadPassword(const std::string& file, std::string& error);

// "<program>-<host>-<topic>": the same for every start of the same program on the same
// machine for the same topic, so that the broker keeps the client's session across starts.
std::string StableClientId(const std::string& program, const std::string& hostName,
                           const std::string& topic);

} // namespace orvi::mqtt
