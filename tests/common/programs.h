// Real program instances and the companion tools, run from tests that need
// whole machines on this computer: a free loopback port for a virtual modem,
// a tool run to its end, and a program started headless in its machine folder.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace programs {

namespace fs = std::filesystem;

// A free loopback port: bound once to learn a number nobody uses, then let go
// for a virtual modem (or a relay) to take.
inline int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) close(fd);
    return 0;
  }
  close(fd);
  return ntohs(address.sin_port);
}

// The arguments as one shell command line, each quoted.
inline std::string ShellCommand(const std::vector<std::string>& args) {
  std::string command;
  for (const std::string& a : args) {
    command += "'";
    for (char c : a) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += "' ";
  }
  return command;
}

// Runs a tool to its end; its output is appended to log. Returns the exit code.
inline int RunTool(const std::vector<std::string>& args, const fs::path& log) {
  const std::string command = ShellCommand(args) + ">> '" + log.string() + "' 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a tool to its end and keeps what it printed (standard output and
// errors together). Returns the exit code.
inline int RunToolOutput(const std::vector<std::string>& args, std::string& output) {
  output.clear();
  FILE* pipe = popen((ShellCommand(args) + "2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One program instance running headless in its machine folder, its output
// appended to a log; stopped when this goes out of scope.
class Program {
 public:
  Program(std::string program, fs::path folder, fs::path log)
      : program_(std::move(program)), folder_(std::move(folder)), log_(std::move(log)) {}
  ~Program() { Stop(); }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // The program dies with the thread that started it, so a test that is
  // itself killed leaves no machine running.
  bool Start() {
    if (Running()) return true;
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
      if (std::string(*e).rfind("VL_HEADLESS=", 0) != 0) env.emplace_back(*e);
    env.emplace_back("VL_HEADLESS=1");
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char* argv[] = {program_.data(), nullptr};
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
      // Only calls that are safe between fork and exec.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      const int log = open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      if (log < 0 || chdir(folder_.c_str()) != 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0) _exit(127);
      execve(program_.c_str(), argv, envp.data());
      _exit(127);
    }
    pid_ = pid;
    return pid_ > 0;
  }

  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }

  pid_t Pid() const { return pid_; }

  // kill -9: the program gets no chance to tidy anything.
  void Kill() {
    if (!Running()) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  void Stop() {
    if (!Running()) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 40 && Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Kill();
  }

 private:
  std::string program_;
  fs::path folder_;
  fs::path log_;
  pid_t pid_ = -1;
};

}  // namespace programs
