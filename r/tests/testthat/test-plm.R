# A model fitted by plm: its residuals give plm's own pcdtest figures (to
# the rounding of two different summations), and the library's fits of the
# same models give pcdtest's figures too.
skip_if_not_installed("plm")
# pcdtest finds a model's data through its call, which names plm's functions.
suppressPackageStartupMessages(library(plm))
data("Grunfeld", package = "plm", envir = environment())
f <- inv ~ value + capital

test_that("cdtest(model) gives pcdtest(model)'s figures", {
  unbalanced <- Grunfeld[-c(3, 25, 26, 77, 150), ]
  models <- list(
    pooling = plm::plm(f, Grunfeld, model = "pooling"),
    within = plm::plm(f, Grunfeld, model = "within"),
    "within, time" = plm::plm(f, Grunfeld, model = "within", effect = "time"),
    "within, two-ways" = plm::plm(f, Grunfeld, model = "within", effect = "twoways"),
    random = plm::plm(f, Grunfeld, model = "random"),
    "random, unbalanced" = plm::plm(f, unbalanced, model = "random"),
    "CCE mean group" = plm::pcce(f, Grunfeld, model = "mg"))
  keys <- c(lm = "lm", sclm = "scaled_lm", cd = "cd")
  for (name in names(models)) {
    r <- cdtest(models[[name]])
    for (test in names(keys)) {
      reference <- plm::pcdtest(models[[name]], test = test)
      row <- r$tests[[keys[[test]]]]
      expect_equal(unname(row$statistic), unname(reference$statistic), tolerance = 1e-13,
                   label = paste(name, test))
      if (test != "sclm")  # pcdtest's scaled LM p-value is two-sided, the library's upper tail
        expect_equal(row$p.value, reference$p.value, tolerance = 1e-11,
                     label = paste(name, test, "p-value"))
    }
    expect_equal(r$figures$average_correlation,
                 unname(plm::pcdtest(models[[name]], test = "rho")$statistic), tolerance = 1e-13)
  }
})

test_that("the library's fixed effects give pcdtest's LM_BC and local CD", {
  fe <- plm::plm(f, Grunfeld, model = "within")
  w <- matrix(0, 10, 10)
  w[cbind(c(2, 5, 7, 10), c(1, 3, 6, 2))] <- 1
  r <- cdtest(f, data = Grunfeld, model = "within", neighbours = w)
  expect_equal(unname(r$tests$bias_corrected_scaled_lm$statistic),
               unname(plm::pcdtest(fe, test = "bcsclm")$statistic), tolerance = 1e-13)
  expect_equal(unname(r$tests$local_cd$statistic),
               unname(plm::pcdtest(fe, test = "cd", w = w)$statistic), tolerance = 1e-13)
  expect_identical(r$model, "within")
  expect_identical(r$effect, "individual")
})
