// Runs the programs under test as child processes in a fresh folder, with
// their standard output and error in files.
#pragma once

#include "test_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

struct Outcome {
  int exitCode = -1;   // 128 + N when ended by signal N, as a shell reports it
  bool killed = false; // ended by a signal rather than by exiting
  std::string out, err;
};

inline bool has(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

class ProgramTest : public testing::Test {
protected:
  void SetUp() override {
    dir = tempDir("program_run");
    logs = tempDir("program_run_logs");
  }

  // Starts a program in dir with its output in logs/out and logs/err.
  pid_t startProgram(const char *path, std::vector<std::string> args) {
    // Emptied here, not in the child, so no one reads the last run's output.
    for (const char *name : {"/out", "/err"})
      std::ofstream(logs + name, std::ios::trunc);
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      int out = open((logs + "/out").c_str(), O_WRONLY | O_CREAT, 0644);
      int err = open((logs + "/err").c_str(), O_WRONLY | O_CREAT, 0644);
      dup2(out, 1);
      dup2(err, 2);
      execProgram(path, args);
    }
    return pid;
  }

  // In a forked child: runs path with args, or ends the child with 127.
  [[noreturn]] static void execProgram(const char *path, std::vector<std::string> &args) {
    std::vector<char *> argv{const_cast<char *>(path)};
    for (std::string &a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(path, argv.data());
    _exit(127);
  }

  Outcome finish(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome r;
    r.killed = WIFSIGNALED(status);
    r.exitCode = r.killed ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    r.out = contents(logs + "/out");
    r.err = contents(logs + "/err");
    return r;
  }

  // Waits until the running program's standard error holds text `times` times.
  bool waitForErr(const std::string &text, int times = 1, int seconds = 60) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      std::string err = contents(logs + "/err");
      int n = 0;
      for (std::size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + 1))
        ++n;
      if (n >= times) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  std::string dir, logs;
};
