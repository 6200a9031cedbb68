#include "collect/Options.h"

#include "acquire/Options.h"

namespace orvi::collect {

namespace {

struct TOption {
    const char* Name;
    std::string TCollectOptions::*Text; // null: a flag or --duration
    bool TCollectOptions::*Flag;
};

const TOption kOptions[] = {
    {"--mqtt", &TCollectOptions::Mqtt, nullptr},
    {"--dir", &TCollectOptions::Dir, nullptr},
    {"--mqtt-ca", &TCollectOptions::MqttCa, nullptr},
    {"--mqtt-password-file", &TCollectOptions::MqttPasswordFile, nullptr},
    {"--mqtt-client-id", &TCollectOptions::MqttClientId, nullptr},
    {"--duration", nullptr, nullptr},
    {"--help", nullptr, &TCollectOptions::Help},
    {"-h", nullptr, &TCollectOptions::Help},
    {"--version", nullptr, &TCollectOptions::Version},
};

std::string Apply(const TOption& option, const std::string& value, TCollectOptions& o) {
    const std::string name = option.Name;
    if (option.Text) {
        if (value.empty())
            return name + ": a value is missing";
        o.*option.Text = value;
        return {};
    }
    o.DurationMs = acquire::ParseDuration(value);
    return o.DurationMs ? "" : "--duration: \"" + value + "\" is not a time such as 90s, 10m or 12h";
}

std::string ApplyArgument(const std::vector<std::string>& args, size_t& i, TCollectOptions& o) {
    const std::string& arg = args[i];
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    for (const TOption& option : kOptions) {
        if (name != option.Name)
            continue;
        if (option.Flag) {
            o.*option.Flag = true;
            return eq == std::string::npos ? "" : name + " takes no value";
        }
        if (eq != std::string::npos)
            return Apply(option, arg.substr(eq + 1), o);
        if (i + 1 >= args.size())
            return name + ": value missing";
        return Apply(option, args[++i], o);
    }
    return "unknown argument \"" + arg + "\"";
}

} // namespace

TParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TParsedCommandLine parsed;
    for (size_t i = 0; i < args.size() && parsed.Error.empty(); ++i)
        parsed.Error = ApplyArgument(args, i, parsed.Options);
    const TCollectOptions& o = parsed.Options;
    if (parsed.Error.empty() && !o.Help && !o.Version && (o.Mqtt.empty() || o.Dir.empty()))
        parsed.Error = "--mqtt and --dir are both needed";
    return parsed;
}

std::string UsageText() {
    return R"(Usage: orvi_collect --mqtt URL --dir DIR [options]
Keeps every stand's data: subscribes to PREFIX/+ on the broker (QoS 1, a persistent
session) and writes the records that each stand's orvi_acquire --mqtt publishes into
DIR/<stand>/<the stand's log name>, in the console's data log format, whole lines
only. A repeated record (a sequence number the file has seen) is dropped, so each
collected log is byte for byte the stand's own; a new file starts where the stand's
log did. orvi_viewer follows any of them live.

  --mqtt URL        mqtt://[user@]host[:port]/PREFIX, or mqtts://... for TLS
  --dir DIR         the folder of the collected logs (made when missing)
  --mqtt-ca FILE    the CA that signed the broker's certificate (mqtts; default: the
                    system's CAs)
  --mqtt-password-file FILE
                    the password: the file's first line (default: the environment
                    variable ORVI_MQTT_PASSWORD); never on the command line
  --mqtt-client-id ID
                    the client id of the persistent session (default:
                    orvi_collect-HOST-PREFIX); the broker keeps the records that
                    arrive while the collector is away under it
  --duration T      end after T: a number followed by s, m or h (90s, 10m, 12h)
  --version         the program's version
  --help            this text

The collector runs until SIGINT or SIGTERM; SIGHUP closes the open logs, which are
opened again (after what they hold) at the next record. Warnings and errors go to
standard error, one line each.

Exit status:
  0  ended as asked: the duration or a stop signal
  1  a collected log could not be written
  2  a bad command line
  3  the broker's TLS certificate is not trusted (--mqtt-ca)
)";
}

} // namespace orvi::collect
