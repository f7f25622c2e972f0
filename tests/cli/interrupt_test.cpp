// The tool ended by SIGINT, SIGTERM or SIGHUP while it reads its input and
// while it writes its correlation table: it exits with 128 + the signal's
// number and leaves no temporary file, nor any output, behind.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tool_process.h"

namespace qvd::testing {
namespace {

namespace fs = std::filesystem;

// N cross-sections of 6 periods with no regressors: a quick analysis whose
// correlation table (N^2 values, about 45 MB at N = 1,500) takes a while
// to write.
std::string wide_panel(int sections) {
  std::string text = "id,t,y\n";
  unsigned state = 12345;
  for (int i = 0; i < sections; ++i)
    for (int t = 0; t < 6; ++t) {
      state = state * 1103515245u + 12345u;
      text += std::to_string(i) + "," + std::to_string(t) + "," +
              std::to_string(static_cast<int>(state >> 16) % 1000) + "\n";
    }
  return text;
}

bool holds_temporary(const fs::path &dir) {
  for (const auto &entry : fs::directory_iterator(dir))
    if (entry.path().filename().string().find(".tmp") != std::string::npos) return true;
  return false;
}

TEST(Interrupt, SignalsEndTheRunAndLeaveNoFiles) {
  const std::string csv_text = wide_panel(1500);
  const fs::path csv = write_scratch("interrupt.csv", csv_text);
  for (int signal : {SIGINT, SIGTERM, SIGHUP})
    for (bool writing : {false, true}) {
      SCOPED_TRACE(std::string(strsignal(signal)) + (writing ? ", writing" : ", reading"));
      const fs::path dir = scratch() / "interrupted";
      fs::remove_all(dir);
      fs::create_directories(dir);
      const std::vector<std::string> args = {
          "--x", "", "--correlations", (dir / "rho.csv").string(), "--density",
          (dir / "rho.svg").string(), writing ? csv.string() : "-"};
      setenv("ASAN_OPTIONS", "handle_sigfpe=0:detect_leaks=1", 0);
      int pipe_ends[2] = {-1, -1};
      if (!writing) {
        ASSERT_EQ(pipe2(pipe_ends, O_CLOEXEC), 0);
      }
      const StartedProcess tool = start_process(QVDEP_TOOL_PATH, args, pipe_ends[0]);
      ASSERT_NE(tool.pid, 0) << tool.error;
      if (writing) {
        // Signalled as soon as its first temporary file is there.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!holds_temporary(dir) && std::chrono::steady_clock::now() < deadline &&
               waitpid(tool.pid, nullptr, WNOHANG) == 0)
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        ASSERT_TRUE(holds_temporary(dir)) << "the tool wrote no temporary file in time";
      } else {
        // Past the pipe's 64 kB the write returns only once the tool reads.
        close(pipe_ends[0]);
        const std::string part = csv_text.substr(0, 200'000);
        ASSERT_EQ(write(pipe_ends[1], part.data(), part.size()), static_cast<ssize_t>(part.size()));
      }
      kill(tool.pid, signal);
      const ProcessRun run = wait_process(tool);
      if (!writing) close(pipe_ends[1]);
      EXPECT_EQ(run.status, 128 + signal) << run.err;
      EXPECT_TRUE(fs::is_empty(dir));
    }
}

}  // namespace
}  // namespace qvd::testing
