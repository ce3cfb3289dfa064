// The built box simulator as a child process, with pipes on its standard
// input and output: tests start it with options, read its ready line, send it
// commands and watch it end.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

class BoxsimProcess {
 public:
  explicit BoxsimProcess(const char* program) : program_(program) {}
  ~BoxsimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stdin_ >= 0) close(stdin_);
    if (stdout_ >= 0) close(stdout_);
  }
  BoxsimProcess(const BoxsimProcess&) = delete;
  BoxsimProcess& operator=(const BoxsimProcess&) = delete;

  bool Start(const std::vector<std::string>& args) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
      std::vector<char*> argv = {const_cast<char*>(program_)};
      for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(program_, argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    return pid_ > 0;
  }

  // The device named by the first line of standard output ("" when that is
  // no ready line), waiting up to 5 s for it.
  std::string ReadyDevice() {
    const std::string prefix = "boxsim: ready on ";
    std::string line;
    char c;
    pollfd fd = {stdout_, POLLIN, 0};
    while (poll(&fd, 1, 5000) > 0 && read(stdout_, &c, 1) == 1 && c != '\n')
      line += c;
    return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : "";
  }

  bool Send(const std::string& commandLine) {
    const std::string text = commandLine + "\n";
    return write(stdin_, text.data(), text.size()) ==
           static_cast<ssize_t>(text.size());
  }

  void CloseStdin() {
    close(stdin_);
    stdin_ = -1;
  }

  // The exit status, or -1 when the process has not ended within the time.
  int WaitExit(int timeoutMs) {
    if (pid_ <= 0) return -1;
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < giveUp) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(5000);
    }
    return -1;
  }

  int Stop(int signal) {
    if (pid_ <= 0) return -1;  // never a signal to every process
    kill(pid_, signal);
    return WaitExit(5000);
  }

 private:
  const char* program_;
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
};
