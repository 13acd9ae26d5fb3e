// A GSM modem on the far side of a pseudo-terminal: a thread that answers
// AT commands the way a modem in PDU mode does, and records what it got.
#pragma once
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvtest {

struct ModemAnswers {
  bool echo = false;                                  // echo each command line
  std::string mode = "\r\nOK\r\n";                    // to AT+CMGF=0
  std::string prompt = "\r\n> ";                      // to AT+CMGS=n
  std::string sent = "\r\n+CMGS: 7\r\n\r\nOK\r\n";    // to a PDU ended by Ctrl-Z
  std::string list = "\r\nOK\r\n";                    // to AT+CMGL
  std::string remove = "\r\nOK\r\n";                  // to AT+CMGD=n
};

class FakeModem {
 public:
  explicit FakeModem(ModemAnswers answers = {}) : answers_(std::move(answers)) {
    char name[128] = {};
    ok_ = openpty(&master_, &slave_, name, nullptr, nullptr) == 0;
    path_ = name;
    if (ok_) thread_ = std::thread([this] { Serve(); });
  }
  ~FakeModem() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (ok_) {
      close(master_);
      close(slave_);
    }
  }
  FakeModem(const FakeModem&) = delete;
  FakeModem& operator=(const FakeModem&) = delete;

  bool ok() const { return ok_; }
  const std::string& path() const { return path_; }
  int master() const { return master_; }
  // Bytes to the port, as if the modem sent them on its own.
  void Send(const std::string& bytes) { Write(bytes); }
  std::vector<std::string> Commands() {
    std::lock_guard<std::mutex> l(mu_);
    return commands_;
  }
  std::vector<std::string> Pdus() {
    std::lock_guard<std::mutex> l(mu_);
    return pdus_;
  }
  std::string Raw() {
    std::lock_guard<std::mutex> l(mu_);
    return raw_;
  }

 private:
  void Write(const std::string& s) {
    for (size_t done = 0; done < s.size();) {
      const ssize_t n = write(master_, s.data() + done, s.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  void Serve() {
    std::string buf;
    bool pdu = false;
    while (!stop_) {
      pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char chunk[4096];
      const ssize_t n = read(master_, chunk, sizeof chunk);
      if (n <= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      buf.append(chunk, static_cast<size_t>(n));
      {
        std::lock_guard<std::mutex> l(mu_);
        raw_.append(chunk, static_cast<size_t>(n));
      }
      for (;;) {
        while (!buf.empty() && buf[0] == '\n') buf.erase(0, 1);
        if (pdu) {
          const size_t z = buf.find('\x1A');
          if (z == std::string::npos) break;
          Record(&pdus_, buf.substr(0, z));
          buf.erase(0, z + 1);
          pdu = false;
          Write(answers_.sent);
          continue;
        }
        const size_t cr = buf.find('\r');
        if (cr == std::string::npos) break;
        const std::string line = buf.substr(0, cr);
        buf.erase(0, cr + 1);
        if (line.empty()) continue;
        Record(&commands_, line);
        if (answers_.echo) Write(line + "\r");
        if (line.rfind("AT+CMGF", 0) == 0) {
          Write(answers_.mode);
        } else if (line.rfind("AT+CMGS=", 0) == 0) {
          Write(answers_.prompt);
          pdu = answers_.prompt.find('>') != std::string::npos;
        } else if (line.rfind("AT+CMGL", 0) == 0) {
          Write(answers_.list);
        } else if (line.rfind("AT+CMGD", 0) == 0) {
          Write(answers_.remove);
        } else {
          Write("\r\nOK\r\n");
        }
      }
    }
  }

  void Record(std::vector<std::string>* to, const std::string& s) {
    std::lock_guard<std::mutex> l(mu_);
    to->push_back(s);
  }

  ModemAnswers answers_;
  int master_ = -1;
  int slave_ = -1;
  bool ok_ = false;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mu_;
  std::vector<std::string> commands_;
  std::vector<std::string> pdus_;
  std::string raw_;
};

}  // namespace tarvtest
