// Runs a program as a child process, without a shell: the arguments reach
// it exactly as given, whatever quotes, spaces or shell characters they
// hold. Its standard output and error go to files in the scratch directory
// and come back whole; a run that outlives its time limit is killed, so a
// hang fails the test instead of stalling it. POSIX only (the tests of the
// command-line tool, which run on Linux).
#ifndef QVDEP_TESTS_SUPPORT_PROCESS_H
#define QVDEP_TESTS_SUPPORT_PROCESS_H

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch.h"

extern char **environ;

namespace qvd::testing {

struct ProcessRun {
  int status = -1;         // the exit status; -1 when killed or not started
  bool timed_out = false;  // killed at the time limit
  std::string out, err;
};

inline ProcessRun run_process(const std::string &program, const std::vector<std::string> &args,
                              std::chrono::seconds limit = std::chrono::seconds(120)) {
  const std::filesystem::path out = scratch() / "stdout", err = scratch() / "stderr";
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int started = posix_spawnp(&pid, program.c_str(), &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  ProcessRun run;
  if (started != 0) {
    run.err = "cannot start " + program + ": " + std::strerror(started);
    return run;
  }

  // Poll rather than block, so that the deadline can be kept.
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int raw = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &raw, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return run;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &raw, 0);
      run.timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  run.status = !run.timed_out && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = slurp(out);
  run.err = slurp(err);
  return run;
}

}  // namespace qvd::testing

#endif
