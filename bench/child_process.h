// One run of another program, timed by the wall clock, with its peak
// resident memory as the kernel accounts it (ru_maxrss of the child, from
// wait4).
//
// The child is made by fork, not vfork or posix_spawn: a child that shares
// its parent's memory until exec inherits the parent's high-water mark, so
// its ru_maxrss would be at least the benchmark's own peak. A forked child
// starts from the parent's resident size at the moment of the fork, which
// the caller keeps small by starting children before it holds large data.
#ifndef QVDEP_BENCH_CHILD_PROCESS_H
#define QVDEP_BENCH_CHILD_PROCESS_H

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

struct ChildRun {
  bool ok = false;         // started, and exited with status 0
  double seconds = 0;      // wall clock from fork to exit
  double peak_bytes = 0;   // ru_maxrss
};

// Runs `argv` (argv[0] a path) with standard output sent to `output`, and
// the given variables added to its environment.
inline ChildRun run_child(const std::vector<std::string> &argv, const std::string &output,
                          const std::vector<std::pair<std::string, std::string>> &env = {}) {
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return {};
  if (pid == 0) {
    const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(127);
    for (const auto &[name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return {};
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  return {WIFEXITED(status) && WEXITSTATUS(status) == 0, wall.count(),
          1024.0 * static_cast<double>(usage.ru_maxrss)};
}

#endif
