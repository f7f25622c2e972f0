// Runs a program as a child process, without a shell: the arguments reach
// it exactly as given, whatever quotes, spaces or shell characters they
// hold. Its standard output and error go to files in the scratch directory
// and come back whole; a run that outlives its time limit is killed, so a
// hang fails the test instead of stalling it. POSIX only (the tests of the
// command-line tool, which run on Linux). A test that signals the child
// starts it and waits for it in two steps.
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

// A started child whose output goes to the scratch directory's stdout and
// stderr files; pid 0 and the reason in `error` when it could not start.
struct StartedProcess {
  pid_t pid = 0;
  std::string error;
};

// `input`: a descriptor to read standard input from (default /dev/null).
inline StartedProcess start_process(const std::string &program,
                                    const std::vector<std::string> &args, int input = -1) {
  const std::filesystem::path out = scratch() / "stdout", err = scratch() / "stderr";
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  if (input >= 0)
    posix_spawn_file_actions_adddup2(&files, input, 0);
  else
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  StartedProcess started;
  const int failed =
      posix_spawnp(&started.pid, program.c_str(), &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  if (failed != 0) {
    started.pid = 0;
    started.error = "cannot start " + program + ": " + std::strerror(failed);
  }
  return started;
}

// Waits for a started child, killing it at the time limit.
inline ProcessRun wait_process(const StartedProcess &started,
                               std::chrono::seconds limit = std::chrono::seconds(120)) {
  ProcessRun run;
  if (started.pid == 0) {
    run.err = started.error;
    return run;
  }
  // Poll rather than block, so that the deadline can be kept.
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int raw = 0;
  for (;;) {
    const pid_t done = waitpid(started.pid, &raw, WNOHANG);
    if (done == started.pid) break;
    if (done < 0 && errno != EINTR) return run;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(started.pid, SIGKILL);
      waitpid(started.pid, &raw, 0);
      run.timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  run.status = !run.timed_out && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = slurp(scratch() / "stdout");
  run.err = slurp(scratch() / "stderr");
  return run;
}

inline ProcessRun run_process(const std::string &program, const std::vector<std::string> &args,
                              std::chrono::seconds limit = std::chrono::seconds(120)) {
  return wait_process(start_process(program, args), limit);
}

}  // namespace qvd::testing

#endif
