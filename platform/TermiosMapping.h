#pragma once
// Translation between the Windows-style device state and termios, as pure functions
// (no device needed), used by the POSIX comm device.
//
// Carried by termios: rate, byte size, parity, stop bits, parity checking (INPCK),
// CTS/RTS handshake (CRTSCTS, both directions at once), XON/XOFF in either direction
// and the two flow characters. Everything else (DTR handshake, DSR flow and
// sensitivity, XonLim/XoffLim, TXContinueOnXoff, error/EOF/event characters, fNull,
// abort on error, RTS toggle) has no termios field and is kept by the device.
#include "platform/CommDevice.h"

#include <linux/serial.h>
#include <termios.h>

namespace orvi::platform {

// The Bxxx constant of a rate, B0 when the rate has none.
speed_t SpeedOfRate(uint32_t rate);
// The rate of a Bxxx constant, 0 for B0 and for anything that is not one.
uint32_t RateOfSpeed(speed_t speed);

// Whether a line could take the state: rate above 0, 5 to 8 data bits, a known
// parity and stop-bit code, 1.5 stop bits only with 5 data bits and 2 only with more,
// distinct XON and XOFF characters when XON/XOFF flow is on.
bool IsValidDeviceState(const DeviceState& state);

// Raw binary line: no line editing, echo, signals, translation or output processing;
// receiver on, modem control lines ignored, no hang-up on close; reads return at once.
void MakeRaw(termios& t);

// Writes the state's termios-backed settings into `t`, leaving other fields alone.
// A rate with a Bxxx constant goes into `t` and `anyRate` becomes 0; any other rate
// leaves the speed in `t` unchanged and comes back in `anyRate`, to be set after `t`
// with termios2. False (and `t` unchanged) when the state is not valid.
bool DeviceStateToTermios(const DeviceState& state, termios& t, uint32_t& anyRate);

// The state a line with settings `t` has: termios-backed fields from `t`, the others
// from `kept`. `actualRate` is the rate the driver reports (0 when unknown: the rate
// then comes from the speed in `t`, or from `kept` when that has none).
DeviceState TermiosToDeviceState(const termios& t, uint32_t actualRate, const DeviceState& kept);

// The driver's RS-485 mode for the state's flags: RTS toggled around each transmission
// (RTS_CONTROL_TOGGLE) is RS-485 with RTS raised while sending and lowered after it;
// any other RTS mode turns RS-485 off again when this device had turned it on
// (`enabled`). False when there is nothing to ask the driver.
bool Rs485ModeFor(uint32_t flags, bool enabled, serial_rs485& mode);

} // namespace orvi::platform
