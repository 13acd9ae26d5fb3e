#include "tests/e2e/harness_binary.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

namespace tarvtest {

std::string TarvBinary() { return TARV_BINARY; }

std::string CopyProgram(const std::string& folder) {
  namespace fs = std::filesystem;
  const fs::path program = fs::path(folder) / "tarv";
  fs::copy_file(TarvBinary(), program);
  fs::permissions(program, fs::perms::owner_all);
  fs::create_directory_symlink(fs::path(TarvBinary()).parent_path() / "modules", fs::path(folder) / "modules");
  return program.string();
}

BinaryRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& cwd, int timeoutSeconds) {
  BinaryRun r;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return r;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  char buf[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      r.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    r.output.append(buf, n);
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  return r;
}

}  // namespace tarvtest
