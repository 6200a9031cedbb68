#pragma once
// A pseudo-terminal standing in for a serial device in tests and in the device
// simulator. The slave side is the "port" the serial stack opens as COM<n> (through
// a link in the port override folder); the master side is the device end.
//
// Thread safety: one thread creates and destroys a PtyPort; Write and the reads may
// be called from one other thread each. Several PtyPorts may live at once, with
// different port numbers: they share one temporary override folder, created by the
// first and removed by the last.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvi::testing {

class PtyPort {
public:
    // Opens a pty pair, makes the slave raw (before anything is written), keeps one slave fd
    // open for the pair's life (so the master never sees a hang-up between opens), creates a
    // fresh temporary override folder with a symlink COM<comNumber> -> slave path, and points
    // platform::SetPortOverrideDir at it. Throws std::runtime_error when that fails or when
    // another live PtyPort has the same number.
    explicit PtyPort(int comNumber = 5);
    // The same, but links COM<comNumber> in `folder`, an existing folder that the caller
    // keeps: only the link is created and removed, and the process's override folder is
    // left as it is. An empty `folder` means the temporary folder above.
    PtyPort(int comNumber, const std::string& folder);
    ~PtyPort(); // removes the link (and a temporary folder), closes fds
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    int ComNumber() const;
    std::string DeviceName() const; // "\\.\COM<n>"
    std::string SlavePath() const;
    std::string OverrideDir() const; // the folder holding the link
    int MasterFd() const;
    void Write(const void* data, size_t n);                // all of it, to the master
    size_t ReadExact(void* data, size_t n, int timeoutMs); // from the master; returns bytes got
    std::vector<uint8_t>
    ReadAvailable(int timeoutMs); // what arrives within timeoutMs of the first byte
    void CloseMaster();           // simulates an unplug

private:
    int comNumber_;
    int master_ = -1;
    int slave_ = -1;
    std::string folder_; // the caller's folder; empty for the shared temporary one
    std::string slavePath_;
    std::string linkPath_;
};

} // namespace orvi::testing
