// A GSM modem on the far side of a pseudo-terminal: a thread that answers
// AT commands as a modem in PDU mode does, and records what it got.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvtest {

struct ModemAnswers {
  bool echo = false;                                // echo each command line
  std::string prompt = "\r\n> ";                    // to AT+CMGS=n
  std::string sent = "\r\n+CMGS: 7\r\n\r\nOK\r\n";  // to a PDU ended by Ctrl-Z
  std::string list = "\r\nOK\r\n";                  // to AT+CMGL
  std::string other = "\r\nOK\r\n";                 // to every other command
};

class FakeModem {
 public:
  explicit FakeModem(ModemAnswers a = {}) : answers_(std::move(a)) {
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    path_ = name;
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeModem() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (streamer_.joinable()) streamer_.join();
    close(master_);
    close(slave_);
  }
  const std::string& path() const { return path_; }
  void Send(const std::string& s) {
    if (write(master_, s.data(), s.size()) < 0) return;
  }
  // From now on the modem talks on its own: `chunk` every `everyMs`
  // milliseconds until it is destroyed, never waiting on a full line.
  void Stream(const std::string& chunk, int everyMs) {
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    streamer_ = std::thread([this, chunk, everyMs] {
      while (!stop_) {
        pollfd p = {master_, POLLOUT, 0};
        if (poll(&p, 1, 20) > 0 && write(master_, chunk.data(), chunk.size()) < 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
      }
    });
  }
  // The command lines, and the PDUs as "PDU:" lines, in the order they came.
  std::vector<std::string> Got() {
    std::lock_guard<std::mutex> l(mu_);
    return got_;
  }

 private:
  void Serve() {
    std::string buf;
    bool pdu = false;
    for (char chunk[4096]; !stop_;) {
      pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = read(master_, chunk, sizeof chunk);
      if (n > 0) buf.append(chunk, static_cast<size_t>(n));
      for (size_t end; (end = buf.find(pdu ? '\x1A' : '\r')) != std::string::npos;) {
        const std::string line = buf.substr(buf[0] == '\n' ? 1 : 0, end - (buf[0] == '\n' ? 1 : 0));
        buf.erase(0, end + 1);
        if (line.empty()) continue;
        {
          std::lock_guard<std::mutex> l(mu_);
          got_.push_back(pdu ? "PDU:" + line : line);
        }
        if (answers_.echo && !pdu) Send(line + "\r");
        const bool cmgs = !pdu && line.rfind("AT+CMGS=", 0) == 0;
        Send(pdu ? answers_.sent
                 : cmgs ? answers_.prompt
                        : line.rfind("AT+CMGL", 0) == 0 ? answers_.list : answers_.other);
        pdu = cmgs && answers_.prompt.find('>') != std::string::npos;
      }
    }
  }

  ModemAnswers answers_;
  int master_ = -1, slave_ = -1;
  std::string path_ = "<no pty>";
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::thread streamer_;
  std::mutex mu_;
  std::vector<std::string> got_;
};

}  // namespace tarvtest
