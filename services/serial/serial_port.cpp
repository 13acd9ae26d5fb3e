// The serial port primitives on termios.
#include "services/serial/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cstring>

#include "engine/log/log.h"

SerialPort sgCom = {-1};

namespace {

constexpr int kReadIntervalMs = 100;
constexpr int kReadTotalMs = 500;
constexpr int kWriteTotalMs = 100;

struct Speed {
  int rate;
  speed_t code;
};
// The speeds a port is set to; the lower ones are only shown.
constexpr Speed kSpeeds[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},
                             {9600, B9600},   {19200, B19200}, {38400, B38400},
                             {57600, B57600}, {115200, B115200}};
constexpr int kLowestSetRate = 9600;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool SpeedCode(int rate, speed_t* code) {
  if (rate < kLowestSetRate) return false;
  for (const Speed& s : kSpeeds)
    if (s.rate == rate) {
      *code = s.code;
      return true;
    }
  return false;
}

int SpeedRate(speed_t code) {
  for (const Speed& s : kSpeeds)
    if (s.code == code) return s.rate;
  return 0;
}

int ByteSize(const termios& t) {
  switch (t.c_cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
  }
}

// The device's settings, one debug line per field of a device control block.
void LogSettings(const termios& t) {
  struct Field {
    const char* name;
    unsigned value;
    const char* meaning;
  };
  const bool rtscts = (t.c_cflag & CRTSCTS) != 0;
  const Field fields[] = {
      {"DCBlength", sizeof t, "sizeof(DCB)"},
      {"BaudRate", static_cast<unsigned>(SpeedRate(cfgetospeed(&t))), "Baudrate at which running"},
      {"fBinary", (t.c_lflag & ICANON) == 0, "Binary Mode (skip EOF check)"},
      {"fParity", (t.c_iflag & INPCK) != 0, "Enable parity checking"},
      {"fOutxCtsFlow", rtscts, "CTS handshaking on output"},
      {"fOutxDsrFlow", 0, "DSR handshaking on output"},
      {"fDtrControl", (t.c_cflag & HUPCL) != 0, "DTR Flow control"},
      {"fDsrSensitivity", 0, "DSR Sensitivity"},
      {"fTXContinueOnXoff", (t.c_iflag & IXANY) != 0, "Continue TX when Xoff sent"},
      {"fOutX", (t.c_iflag & IXON) != 0, "Enable output X-ON/X-OFF"},
      {"fInX", (t.c_iflag & IXOFF) != 0, "Enable input X-ON/X-OFF"},
      {"fErrorChar", 0, "Enable Err Replacement"},
      {"fNull", (t.c_iflag & IGNBRK) != 0, "Enable Null stripping"},
      {"fRtsControl", rtscts ? 2u : 1u, "Rts Flow control"},
      {"fAbortOnError", 0, "Abort all reads and writes on Error"},
      {"fDummy2", 0, "Reserved"},
      {"wReserved", 0, "Not currently used"},
      {"XonLim", 0, "Transmit X-ON threshold"},
      {"XoffLim", 0, "Transmit X-OFF threshold"},
      {"ByteSize", static_cast<unsigned>(ByteSize(t)), "Number of bits/byte, 4-8"},
      {"Parity", (t.c_cflag & PARENB) == 0 ? 0u : ((t.c_cflag & PARODD) != 0 ? 1u : 2u),
       "0-4=None,Odd,Even,Mark,Space"},
      {"StopBits", (t.c_cflag & CSTOPB) != 0 ? 2u : 0u, "0,1,2 = 1, 1.5, 2"},
      {"XonChar", t.c_cc[VSTART], "Tx and Rx X-ON character"},
      {"XoffChar", t.c_cc[VSTOP], "Tx and Rx X-OFF character"},
      {"ErrorChar", 0, "Error replacement char"},
      {"EofChar", t.c_cc[VEOF], "End of Input character"},
      {"EvtChar", 0, "Received Event character"},
      {"wReserved1", 0, "Fill for now."},
  };
  for (const Field& f : fields)
    TarvDebugLog("\n\r\ndcb.%s = <%x>   : %s   ", f.name, f.value, f.meaning);
}

// Waits for the events within ms milliseconds: true when they came.
bool WaitFor(int fd, short events, int64_t ms) {
  pollfd p = {fd, events, 0};
  const int64_t end = NowMs() + std::max<int64_t>(ms, 0);
  for (;;) {
    const int64_t left = std::max<int64_t>(end - NowMs(), 0);
    const int r = poll(&p, 1, static_cast<int>(left));
    if (r > 0) return true;
    if (r == 0 || errno != EINTR) return false;
  }
}

}  // namespace

bool ComApplySettings(termios* t, int baudRate, int parity, int byteSize, int stopBits) {
  speed_t speed;
  if (!SpeedCode(baudRate, &speed) || byteSize < 5 || byteSize > 8 ||
      (parity != COM_PARITY_NONE && parity != COM_PARITY_ODD) || stopBits < COM_STOP_ONE ||
      stopBits > COM_STOP_TWO)
    return false;
  constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t->c_cflag = (t->c_cflag & ~(CSIZE | PARENB | PARODD | CSTOPB)) | kSizes[byteSize - 5];
  if (parity == COM_PARITY_ODD) t->c_cflag |= PARENB | PARODD;
  // termios has no 1.5 stop bits; the line gets two, as for five-bit bytes.
  if (stopBits != COM_STOP_ONE) t->c_cflag |= CSTOPB;
  cfsetispeed(t, speed);
  cfsetospeed(t, speed);
  return true;
}

bool ComDevicePath(const char* name, int len, char* dest) {
  if (len < 1 || len > COM_NAME_MAX) return false;
  const char* prefix = name[0] == '/' ? "" : "/dev/";
  const size_t p = std::strlen(prefix);
  std::memcpy(dest, prefix, p);
  std::memcpy(dest + p, name, static_cast<size_t>(len));
  dest[p + static_cast<size_t>(len)] = 0;
  return std::strlen(dest) == p + static_cast<size_t>(len);  // no NUL inside the name
}

int OpenComm(const char* device, int baudRate, int parity, int byteSize, int stopBits) {
  CloseComm();
  int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  termios t;
  // Only a terminal device is a port; the lock keeps other processes of ours
  // away even where TIOCEXCL does not bind (the superuser).
  if (tcgetattr(fd, &t) != 0 || ioctl(fd, TIOCEXCL) != 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return 0;
  }
  sgCom.Fd = fd;
  TarvDebugLog("\n\r\n OpenOk hComm=%x", static_cast<unsigned>(fd));
  TarvDebugLog("\n\r\n %s,nBaudRate,nParity,nByteSize,nStopBits: %d, %d ,%d %d ", device, baudRate,
               parity, byteSize, stopBits);
  LogSettings(t);
  termios raw = t;
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  const bool mapped = ComApplySettings(&raw, baudRate, parity, byteSize, stopBits);
  if (!mapped) {
    // The device keeps its own line settings; raw mode still holds.
    raw.c_cflag = (raw.c_cflag & ~(CSIZE | PARENB | PARODD | CSTOPB)) |
                  (t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB));
  }
  const int set = tcsetattr(fd, TCSANOW, &raw) == 0 && mapped ? 1 : 0;
  TarvDebugLog("\n\r\nSetCommState = <%d> 0:Error ", set);
  return 1;
}

int CloseComm() {
  if (sgCom.Fd < 0) return 1;
  const int r = close(sgCom.Fd);
  sgCom.Fd = -1;
  return r == 0 ? 1 : 0;
}

int WriteComm(const char* bytes, int count) {
  if (sgCom.Fd < 0 || count <= 0) return 0;
  const int64_t end = NowMs() + count + kWriteTotalMs;
  int done = 0;
  while (done < count) {
    const ssize_t n = write(sgCom.Fd, bytes + done, static_cast<size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    if (!WaitFor(sgCom.Fd, POLLOUT, end - NowMs())) break;
  }
  return done;
}

int ReadCommChecked(char* buffer, int size) { return ReadCommWithin(buffer, size, INT64_MAX); }

int ReadCommWithin(char* buffer, int size, int64_t maxMs) {
  if (sgCom.Fd < 0) return -1;
  if (size <= 0) return 0;
  const int64_t end = NowMs() + std::min<int64_t>(size + kReadTotalMs, std::max<int64_t>(maxMs, 0));
  int got = 0;
  while (got < size) {
    const int64_t left = end - NowMs();
    if (left <= 0) break;
    if (!WaitFor(sgCom.Fd, POLLIN, got > 0 ? std::min<int64_t>(left, kReadIntervalMs) : left))
      break;
    const ssize_t n = read(sgCom.Fd, buffer + got, static_cast<size_t>(size - got));
    if (n > 0) {
      got += static_cast<int>(n);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      // A hung-up line reads as its end; a first read that fails is a failure.
      if (got == 0 && n < 0) return -1;
      break;
    }
  }
  return got;
}

int ReadComm(char* buffer, int size) { return std::max(ReadCommChecked(buffer, size), 0); }
