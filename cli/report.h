// The command-line tool's report of one test.
#ifndef QVDEP_CLI_REPORT_H
#define QVDEP_CLI_REPORT_H

#include <ostream>
#include <string>

#include "cli/csv_panel.h"
#include "host/dependence_test.h"

namespace qvd::cli {

void print_report(std::ostream &out, const std::string &source, const CsvPanel &data,
                  const host::TestOptions &options, const host::TestResults &results);

}  // namespace qvd::cli

#endif
