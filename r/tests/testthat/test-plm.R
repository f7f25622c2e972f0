# Every panel model against plm's pcdtest, two ways: cdtest(fit) tests the
# residuals plm computed (to the rounding of two summations), and
# cdtest(formula, data, model =, effect =) fits the same model in the
# library (the same residuals to about 1e-15 relative). Both give pcdtest's
# LM, scaled LM, CD and rho; the library's fits its LM_BC after fixed
# effects by cross-section and the local LM, scaled LM and CD over a
# proximity matrix w.
skip_if_not_installed("plm")
# pcdtest finds a model's data through its call, which names plm's functions.
suppressPackageStartupMessages(library(plm))
data("Grunfeld", package = "plm", envir = environment())
f <- inv ~ value + capital

test_that("every model's figures are pcdtest's", {
  unbalanced <- Grunfeld[-c(3, 25, 26, 77, 150), ]
  w <- matrix(0, 10, 10)
  w[cbind(c(2, 5, 7, 10), c(1, 3, 6, 2))] <- 1
  # name, the data, our model and effect, plm's fit (NULL: the series inv).
  models <- list(
    list("pooling", Grunfeld, "pooling", NULL, plm(f, Grunfeld, model = "pooling")),
    list("within", Grunfeld, "within", "individual", plm(f, Grunfeld, model = "within")),
    list("within, time", Grunfeld, "within", "time",
         plm(f, Grunfeld, model = "within", effect = "time")),
    list("within, twoways, unbalanced", unbalanced, "within", "twoways",
         plm(f, unbalanced, model = "within", effect = "twoways")),
    list("random", Grunfeld, "random", "individual", plm(f, Grunfeld, model = "random")),
    list("random, twoways, unbalanced", unbalanced, "random", "twoways",
         plm(f, unbalanced, model = "random", effect = "twoways")),
    list("CCE mean group", Grunfeld, "cce", NULL, pcce(f, Grunfeld, model = "mg")),
    list("none (the series inv)", unbalanced, "none", NULL, NULL))
  tests <- c(lm = "lm", sclm = "scaled_lm", cd = "cd", bcsclm = "bias_corrected_scaled_lm")
  local <- c(lm = "local_lm", sclm = "local_scaled_lm", cd = "local_cd")
  for (m in models) {
    name <- m[[1]]
    fit <- m[[5]]
    reference <- if (is.null(fit)) pdata.frame(m[[2]])$inv else fit
    fits <- list(refit = cdtest(f, data = m[[2]], model = m[[3]], effect = m[[4]]),
                 refit_w = cdtest(f, data = m[[2]], model = m[[3]], effect = m[[4]],
                                  neighbours = w))
    if (!is.null(fit)) fits$residuals <- cdtest(fit)
    for (way in names(fits)) {
      r <- fits[[way]]
      label <- paste(name, way)
      # LM_BC: the library's fixed effects by cross-section (plm's condition).
      bc <- way == "refit" && m[[3]] == "within" && m[[4]] != "time"
      keys <- if (way == "refit_w") local else tests[if (bc) 1:4 else 1:3]
      expect_identical(r$model, if (way == "residuals") "none" else m[[3]], label = label)
      for (test in names(keys)) {
        expected <- if (way == "refit_w") pcdtest(reference, test = test, w = w)
                    else pcdtest(reference, test = test)
        row <- r$tests[[keys[[test]]]]
        expect_equal(unname(row$statistic), unname(expected$statistic), tolerance = 1e-12,
                     label = paste(label, test))
        if (test %in% c("lm", "cd"))  # the scaled LMs' p-values here are upper tails
          expect_equal(row$p.value, expected$p.value, tolerance = 1e-11,
                       label = paste(label, test, "p-value"))
      }
      expect_equal(r$figures$average_correlation,
                   unname(pcdtest(reference, test = "rho")$statistic), tolerance = 1e-12,
                   label = paste(label, "rho"))
    }
  }
})

# Friedman's FR is R's friedman.test with the cross-sections as blocks and
# the periods as treatments (ranks of each cross-section's residuals over
# time); the exponents' options reach the library from a plm model too.
test_that("FR of a plm model's residuals is friedman.test's; the exponents' options apply", {
  fit <- plm(f, Grunfeld, model = "within")
  r <- cdtest(fit, exponent_draws = 5, exponent_seed = 3)
  expected <- friedman.test(matrix(resid(fit), nrow = 10, byrow = TRUE))
  expect_equal(unname(r$tests$friedman$statistic), unname(expected$statistic), tolerance = 1e-12)
  expect_identical(r$tests$friedman$parameter, expected$parameter)
  expect_equal(r$tests$friedman$p.value, expected$p.value, tolerance = 1e-10)
  expect_identical(r$strength$residuals[c("draws", "seed")], list(draws = 5, seed = 3))
  expect_identical(r$strength$variable$variable, "residuals")
})
