// The qvdep tool run as a process by the tests of tests/cli, and the
// Grunfeld call they share. QVDEP_TOOL_PATH and QVDEP_EXAMPLES_DIR come from
// tests/cli/CMakeLists.txt.
#ifndef QVDEP_TESTS_CLI_TOOL_PROCESS_H
#define QVDEP_TESTS_CLI_TOOL_PROCESS_H

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/process.h"

namespace qvd::testing {

// The built tool with these arguments. A sanitized tool must let the
// module's SIGFPE reach its own handler, so the sanitizer is told to leave
// that signal alone (unless the caller's environment says otherwise).
inline ProcessRun qvdep(const std::vector<std::string> &args) {
  setenv("ASAN_OPTIONS", "handle_sigfpe=0:detect_leaks=1", 0);
  return run_process(QVDEP_TOOL_PATH, args);
}

// The JSON object of a run with these arguments, which must succeed.
inline nlohmann::json run_json(const std::vector<std::string> &args) {
  std::vector<std::string> all = args;
  all.insert(all.end(), {"--format", "json"});
  const ProcessRun run = qvdep(all);
  EXPECT_EQ(run.status, 0) << run.err;
  return nlohmann::json::parse(run.out);
}

// Grunfeld's investment data (10 firms, 20 years) and the arguments that
// name its columns, with CDp of order 2.
inline const std::string kGrunfeld = QVDEP_EXAMPLES_DIR "/grunfeld.csv";
inline const std::vector<std::string> kGrunfeldArgs = {
    "--id", "firm", "--time", "year", "--y", "inv", "--x", "value,capital", "--order", "2"};

}  // namespace qvd::testing

#endif
