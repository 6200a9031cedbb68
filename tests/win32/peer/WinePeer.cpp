// orvi_wine_peer: the Linux-side peers of the Windows tests that run under wine.
//
//   orvi_wine_peer --port-dir DIR echo:N sink:N chatter:N ...
//
// Each argument KIND:N makes a pseudo-terminal linked as DIR/COM<N>:
//   echo     sends back every byte it receives;
//   sink     never reads, so that a writer fills the driver and blocks;
//   chatter  discards what it receives and sends a byte pattern whenever it can;
//   unplug   sends back every byte it receives until it receives "UNPLUG!": then it
//            closes its end of the pseudo-terminal, as a pulled-out adapter goes, and
//            makes a new one under the same link for the next test.
// "ready" is printed once every link exists; SIGINT or SIGTERM removes the links and
// ends the program.
#include "tools/pty/PtyPort.h"

#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using orvi::testing::PtyPort;

enum class Kind { Echo, Sink, Chatter, Unplug };

constexpr std::string_view kUnplugCommand = "UNPLUG!";

struct Peer {
    Kind kind;
    int number;
    std::string folder;
    std::unique_ptr<PtyPort> pty;
    std::vector<uint8_t> pending; // echo bytes not yet accepted by the master
    std::string recent;           // the last bytes received, to find a command split by reads
};

volatile std::sig_atomic_t gStop = 0;

void OnStop(int) {
    gStop = 1;
}

Kind KindOf(const std::string& name) {
    if (name == "echo")
        return Kind::Echo;
    if (name == "sink")
        return Kind::Sink;
    if (name == "chatter")
        return Kind::Chatter;
    if (name == "unplug")
        return Kind::Unplug;
    throw std::invalid_argument("unknown peer kind " + name);
}

Peer MakePeer(const std::string& request, const std::string& folder) {
    const size_t colon = request.find(':');
    if (colon == std::string::npos)
        throw std::invalid_argument("expected KIND:N, got " + request);
    const int number = std::stoi(request.substr(colon + 1));
    return Peer{KindOf(request.substr(0, colon)),          number, folder,
                std::make_unique<PtyPort>(number, folder), {},     {}};
}

// Writes what the master takes now; keeps the rest for the next pass.
void Flush(Peer& p) {
    if (p.pending.empty())
        return;
    const ssize_t n = write(p.pty->MasterFd(), p.pending.data(), p.pending.size());
    if (n > 0)
        p.pending.erase(p.pending.begin(), p.pending.begin() + n);
}

// True when the bytes received so far end a command to unplug.
bool UnplugAsked(Peer& p, const uint8_t* data, size_t n) {
    p.recent.append(reinterpret_cast<const char*>(data), n);
    const bool asked = p.recent.find(kUnplugCommand) != std::string::npos;
    if (p.recent.size() >= kUnplugCommand.size())
        p.recent.erase(0, p.recent.size() - (kUnplugCommand.size() - 1));
    return asked;
}

// The old pair goes with every byte in it; the link then names the new one.
void Replug(Peer& p) {
    p.pty.reset();
    p.pty = std::make_unique<PtyPort>(p.number, p.folder);
    p.pending.clear();
    p.recent.clear();
}

void Serve(Peer& p, short revents) {
    uint8_t buffer[4096];
    if (revents & POLLIN) {
        const ssize_t n = read(p.pty->MasterFd(), buffer, sizeof buffer);
        if (n > 0 && p.kind == Kind::Unplug && UnplugAsked(p, buffer, size_t(n)))
            return Replug(p);
        if (n > 0 && (p.kind == Kind::Echo || p.kind == Kind::Unplug))
            p.pending.insert(p.pending.end(), buffer, buffer + n);
    }
    if (p.kind == Kind::Chatter && (revents & POLLOUT)) {
        for (size_t i = 0; i < sizeof buffer; ++i)
            buffer[i] = uint8_t(i * 7);
        (void)!write(p.pty->MasterFd(), buffer, 512);
    }
    Flush(p);
}

short EventsOf(const Peer& p) {
    switch (p.kind) {
    case Kind::Echo:
    case Kind::Unplug:
        return short(POLLIN | (p.pending.empty() ? 0 : POLLOUT));
    case Kind::Chatter:
        return POLLIN | POLLOUT;
    case Kind::Sink:
        break;
    }
    return 0;
}

void Run(std::vector<Peer>& peers) {
    std::vector<pollfd> fds(peers.size());
    while (!gStop) {
        for (size_t i = 0; i < peers.size(); ++i)
            fds[i] = pollfd{peers[i].pty->MasterFd(), EventsOf(peers[i]), 0};
        // Chatter is always writable; a short sleep keeps it from hogging a core.
        if (poll(fds.data(), fds.size(), 100) < 0)
            continue;
        for (size_t i = 0; i < peers.size(); ++i)
            if (fds[i].revents & (POLLIN | POLLOUT))
                Serve(peers[i], fds[i].revents);
        usleep(200);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 3 || args[0] != "--port-dir") {
        std::cerr << "usage: orvi_wine_peer --port-dir DIR KIND:N...  (KIND echo, sink, chatter, "
                     "unplug)\n";
        return 2;
    }
    std::signal(SIGINT, OnStop);
    std::signal(SIGTERM, OnStop);
    try {
        std::vector<Peer> peers;
        for (size_t i = 2; i < args.size(); ++i)
            peers.push_back(MakePeer(args[i], args[1]));
        std::cout << "ready" << std::endl;
        Run(peers);
    } catch (const std::exception& e) {
        std::cerr << "orvi_wine_peer: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
