# What cannot be used is an R error of class qvdep_error with the library's
# message (naming the row and column where there is one), never a crash.

grunfeld <- read.csv(system.file("extdata", "grunfeld.csv", package = "qvdep"))
f <- inv ~ value + capital

test_that("bad formulas, columns, values and options are qvdep_error", {
  infinite <- grunfeld
  infinite$value[17] <- Inf
  duplicated_row <- rbind(grunfeld, grunfeld[5, ])
  cases <- list(
    list(quote(cdtest(~ value, data = grunfeld)), "needs a response"),
    list(quote(cdtest(inv ~ nothing, data = grunfeld)), "object 'nothing' not found"),
    list(quote(cdtest(f, data = grunfeld, index = c("firm", "date"))), "no column \"date\""),
    list(quote(cdtest(f, data = infinite)), "row 17.*value"),
    list(quote(cdtest(f, data = infinite[-(1:3), ])), "row 17.*value"),  # by its row name
    list(quote(cdtest(f, data = duplicated_row)), "(duplicate|twice)"),
    list(quote(cdtest(inv ~ value + inv, data = grunfeld)), "also among the regressors"),
    list(quote(cdtest(f, data = grunfeld, model = "fixed")), "model \"fixed\" is none of"),
    list(quote(cdtest(f, data = grunfeld, model = "pooling", effect = "time")),
         "within and random models only"),
    list(quote(cdtest(f, data = grunfeld, restrict = "value + wage = 1")), "wage"),
    list(quote(cdtest(f, data = grunfeld, order = 0)), "order"),
    list(quote(cdtest(f, data = grunfeld, order = 1.5)), "whole number"),
    list(quote(cdtest(f, data = grunfeld, factors = 30)), "CD\\*"),
    list(quote(cdtest(f, data = grunfeld, max_memory = "1k")), "memory|1000"),
    list(quote(cdtest(f, data = grunfeld, neighbours = diag(3))), "3"),
    list(quote(cdtest(f, data = grunfeld, exponent_size = 1.5)), "size p must be in \\(0, 1\\)"),
    list(quote(cdtest(f, data = grunfeld, exponent_draws = 0)), "1 or more draws"),
    list(quote(cdtest(f, data = grunfeld, exponent_of_dependent = NA)), "TRUE or FALSE"),
    list(quote(cdtest(f, data = grunfeld, wieghts = 1)), "unknown argument"),
    list(quote(cdtest("inv ~ value")), "takes a formula"))
  for (case in cases) {
    err <- expect_error(eval(case[[1]]), class = "qvdep_error", label = deparse(case[[1]]))
    expect_match(conditionMessage(err), case[[2]], label = deparse(case[[1]]))
  }
})

test_that("the module run is the one in the package's libs/, another only when named", {
  libs <- normalizePath(file.path(find.package("qvdep"), "libs"))
  module <- normalizePath(qvdep:::.state$module)
  expect_identical(substr(module, 1L, nchar(libs)), libs)
  expect_error(cdtest(f, data = grunfeld, module = file.path(tempdir(), "libqvdep.so")),
               class = "qvdep_module_error")
  expect_identical(cdtest(f, data = grunfeld, module = module)$figures$tests,
                   cdtest(f, data = grunfeld)$figures$tests)
})
