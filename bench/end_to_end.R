# The R package's cdtest timed on the end-to-end panel.
#
#   Rscript end_to_end.R FILE N T K REPEATS
#
# Reads FILE (long format: id, t, y, x0 .. x{K-1}, cross-sections in turn)
# with read.csv, untimed, then times cdtest(y ~ x0 + ... , data = frame) on
# the data frame in memory, the best of REPEATS calls by the wall clock, and
# prints one line: "dataframe", the seconds and the CD statistic with every
# digit, so the caller can tell that it ran the same test as the module. The
# first call, the session's first of the package (it loads the module and
# meets fresh memory), is printed apart as "first".
args <- commandArgs(trailingOnly = TRUE)
path <- args[[1L]]
k <- as.integer(args[[4L]])
repeats <- as.integer(args[[5L]])
suppressPackageStartupMessages(library(qvdep))

frame <- utils::read.csv(path)
# read.csv does not round every decimal to the nearest double (about one
# value in 20,000 of the shortest form lands an ulp away), so the values are
# the bench's own doubles, stored beside the file (panel.values: y, x0, ..
# row by row), and R tests the very panel the module and Python test.
columns <- c("y", paste0("x", seq_len(k) - 1L))
values <- readBin(file.path(dirname(path), "panel.values"), "double", nrow(frame) * (k + 1L))
frame[columns] <- as.data.frame(matrix(values, ncol = k + 1L, byrow = TRUE))
formula <- stats::reformulate(paste0("x", seq_len(k) - 1L), response = "y")
seconds <- numeric(repeats)
for (r in seq_len(repeats)) {
  started <- Sys.time()
  result <- cdtest(formula, data = frame, index = c("id", "t"))
  seconds[[r]] <- as.double(difftime(Sys.time(), started, units = "secs"))
}
cd <- sprintf("%.17g", result$tests$cd$statistic)
cat("first", sprintf("%.17g", seconds[[1L]]), cd, "\n")
cat("dataframe", sprintf("%.17g", min(seconds)), cd, "\n")
