# Ctrl-C during a run: the analysis stops at its next check, its thread
# ends, and R's interrupt is raised, long before the run would have ended.
# The interrupt is a SIGINT sent to this process, as the terminal sends it.

threads <- function() length(list.files("/proc/self/task"))

test_that("an interrupt stops the analysis and leaves no thread behind", {
  skip_on_os(c("windows", "mac", "solaris"))
  skip_if(Sys.which("kill") == "" || !dir.exists("/proc/self/task"))
  set.seed(1)
  n <- 60L
  periods <- 30L
  panel <- data.frame(id = rep(seq_len(n), each = periods), t = rep(seq_len(periods), n),
                      y = rnorm(n * periods), x = rnorm(n * periods))
  cdtest(y ~ x, data = panel)  # the pool of threads is started once per process
  before <- threads()
  # Twenty million draws of the weighted CD's signs: about a minute of work.
  system(sprintf("(sleep 0.5; kill -INT %d) >/dev/null 2>&1 &", Sys.getpid()))
  started <- Sys.time()
  outcome <- tryCatch(cdtest(y ~ x, data = panel, cdw_draws = 2e7),
                      interrupt = function(e) "interrupted")
  seconds <- as.double(difftime(Sys.time(), started, units = "secs"))
  expect_identical(outcome, "interrupted")
  expect_lt(seconds, 15)
  expect_identical(threads(), before)
})
