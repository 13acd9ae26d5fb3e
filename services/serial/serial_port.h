// The serial port: one port at a time, on termios in raw mode, opened for
// exclusive use.  Reads and writes wait with poll() within the port's
// time-outs: a read waits at most 1 ms per wanted byte plus 500 ms, and
// ends 100 ms after the last byte that came; a write waits at most 1 ms per
// byte plus 100 ms.
#pragma once
#include <termios.h>

#include <cstdint>

// Parity and stop-bit codes of the port settings (as a device control block
// holds them).
inline constexpr int COM_PARITY_NONE = 0;
inline constexpr int COM_PARITY_ODD = 1;
inline constexpr int COM_STOP_ONE = 0;
inline constexpr int COM_STOP_ONE5 = 1;
inline constexpr int COM_STOP_TWO = 2;

inline constexpr int COM_NAME_MAX = 62;
inline constexpr int COM_PATH_ROOM = 80;

struct SerialPort {
  int32_t Fd;  // -1: no port open
};

extern SerialPort sgCom;

// The device path of a port name: "/dev/NAME", or the name itself when it
// begins with '/'.  NUL-terminated in dest (COM_PATH_ROOM bytes); false
// when it does not fit.
bool ComDevicePath(const char* name, int len, char* dest);

// The line settings on top of t: speed, byte size, parity and stop bits;
// false, with t unchanged, when one of them has no termios form.  (A
// pseudo-terminal keeps eight bits and no parity whatever it is given.)
bool ComApplySettings(termios* t, int baudRate, int parity, int byteSize, int stopBits);

// Opens the device and sets it up: 1 opened, 0 failed.  A port open before
// is closed first.  Settings the device or termios cannot take leave the
// device's own and do not fail the opening.
int OpenComm(const char* device, int baudRate, int parity, int byteSize, int stopBits);
// 1 closed (or no port open), 0 when the close failed; the port is
// forgotten either way.
int CloseComm();
// Writes count bytes within the write time-out: the bytes written, 0 with
// no port open.
int WriteComm(const char* bytes, int count);
// Reads up to size bytes within the read time-outs: the bytes read, 0 when
// nothing came, the read failed or no port is open.
int ReadComm(char* buffer, int size);
// The same read, telling a failure (or no port open) as -1 from a quiet port.
int ReadCommChecked(char* buffer, int size);
// ReadCommChecked that also ends within maxMs milliseconds, so that a caller
// with a deadline of its own is not held past it by a port that trickles.
int ReadCommWithin(char* buffer, int size, int64_t maxMs);
