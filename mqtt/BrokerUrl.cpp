#include "mqtt/BrokerUrl.h"

#include <charconv>
#include <cstdlib>
#include <fstream>

namespace orvi::mqtt {

namespace {

std::optional<TBrokerUrl> Bad(const std::string& text, const std::string& why,
                              std::string& error) {
    error = "\"" + text + "\" is no broker URL: " + why +
            " (mqtt://[user@]host[:port]/topic or mqtts://...)";
    return std::nullopt;
}

// "host", "host:1884", "[::1]:1884"; false when the port is not 1 to 65535.
bool SplitHostPort(const std::string& text, std::string& host, int& port) {
    std::string rest;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos)
            return false;
        host = text.substr(1, close - 1);
        rest = text.substr(close + 1);
    } else {
        const size_t colon = text.find(':');
        host = text.substr(0, colon);
        rest = colon == std::string::npos ? "" : text.substr(colon);
    }
    if (host.empty())
        return false;
    if (rest.empty())
        return true;
    if (rest[0] != ':' || rest.size() < 2)
        return false;
    const char* end = rest.data() + rest.size();
    const auto [ptr, ec] = std::from_chars(rest.data() + 1, end, port);
    return ec == std::errc() && ptr == end && port >= 1 && port <= 65535;
}

} // namespace

std::optional<TBrokerUrl> ParseBrokerUrl(const std::string& text, std::string& error) {
    TBrokerUrl url;
    std::string rest;
    if (text.rfind("mqtt://", 0) == 0) {
        rest = text.substr(7);
    } else if (text.rfind("mqtts://", 0) == 0) {
        url.Tls = true;
        rest = text.substr(8);
    } else {
        return Bad(text, "it starts with neither mqtt:// nor mqtts://", error);
    }
    const size_t slash = rest.find('/');
    if (slash == std::string::npos || slash + 1 == rest.size())
        return Bad(text, "the topic is missing", error);
    url.Topic = rest.substr(slash + 1);
    if (url.Topic.find_first_of("+#") != std::string::npos || url.Topic.back() == '/')
        return Bad(text, "the topic may hold neither + nor # and may not end in /", error);
    std::string authority = rest.substr(0, slash);
    if (const size_t at = authority.rfind('@'); at != std::string::npos) {
        url.User = authority.substr(0, at);
        authority = authority.substr(at + 1);
        if (url.User.empty())
            return Bad(text, "the user name before @ is empty", error);
        if (url.User.find(':') != std::string::npos)
            return Bad(text, "a password has no place in the URL (--mqtt-password-file)", error);
    }
    url.Port = url.Tls ? 8883 : 1883;
    if (!SplitHostPort(authority, url.Host, url.Port))
        return Bad(text, "the host or the port (1 to 65535) is not right", error);
    return url;
}

std::optional<std::string> ReadPassword(const std::string& file, std::string& error) {
    if (file.empty()) {
        const char* value = std::getenv(kPasswordVariable);
        return std::string(value ? value : "");
    }
    std::ifstream in(file, std::ios::binary);
    std::string line;
    if (!in || (!std::getline(in, line) && !in.eof())) {
        error = "cannot read the password file \"" + file + "\"";
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::string StableClientId(const std::string& program, const std::string& hostName,
                           const std::string& topic) {
    return program + "-" + hostName + "-" + topic;
}

} // namespace orvi::mqtt
