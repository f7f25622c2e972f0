# The same panel handed over in different forms gives the same figures, to
# the bit: what reaches the library does not depend on how R holds it.

grunfeld <- read.csv(system.file("extdata", "grunfeld.csv", package = "qvdep"))

# The tests' statistics and p-values, the averages and the correlations.
core <- function(r) {
  list(statistics = vapply(r$tests, function(t) unname(t$statistic), 0),
       p_values = vapply(r$tests, function(t) t$p.value, 0),
       averages = c(r$figures$average_correlation, r$figures$average_abs_correlation),
       correlations = r$correlations)
}

test_that("equivalent forms of a panel give identical figures", {
  f <- inv ~ value + capital
  base <- cdtest(f, data = grunfeld, index = c("firm", "year"), order = 2)
  missing_cells <- grunfeld
  missing_cells$value[c(7, 45)] <- NA
  missing_cells$inv[120] <- NA
  ids_as_text <- transform(grunfeld, firm = paste0("firm ", firm))
  by_year <- grunfeld[order(grunfeld$year, grunfeld$firm), ]
  forms <- list(
    "the first two columns as the index" = list(cdtest(f, data = grunfeld, order = 2), base),
    "columns given by position" = list(cdtest(f, data = grunfeld, index = 1:2, order = 2), base),
    "rows in another order, cross-sections first met alike" =
      list(cdtest(f, data = by_year, order = 2), base),
    "factor ids" = list(cdtest(f, data = transform(grunfeld, firm = factor(firm)), order = 2),
                        base),
    "a transformation in the formula" = list(
      cdtest(log(inv) ~ log(value) + I(capital^2), data = grunfeld),
      cdtest(li ~ lv + c2, data = transform(grunfeld, li = log(inv), lv = log(value),
                                            c2 = capital^2))),
    "missing cells as missing rows" = list(
      cdtest(f, data = missing_cells),
      cdtest(f, data = missing_cells[stats::complete.cases(missing_cells), ])),
    "y ~ . without the index" = list(cdtest(inv ~ ., data = grunfeld, order = 2), base))
  for (name in names(forms)) {
    a <- core(forms[[name]][[1]])
    b <- core(forms[[name]][[2]])
    if (name != "factor ids") expect_identical(a, b, label = name)
    else expect_identical(a[1:3], b[1:3], label = name)
  }
  text_ids <- cdtest(f, data = ids_as_text, order = 2)
  expect_identical(unname(core(text_ids)$correlations), unname(core(base)$correlations))
  expect_identical(rownames(text_ids$correlations), paste0("firm ", 1:10))
})

test_that("a pdata.frame gives the data frame's figures", {
  skip_if_not_installed("plm")
  panel <- plm::pdata.frame(grunfeld, index = c("firm", "year"))
  expect_identical(core(cdtest(log(inv) ~ log(value) + capital, data = panel)),
                   core(cdtest(log(inv) ~ log(value) + capital, data = grunfeld)))
})

test_that("neighbours as a named matrix, a matrix in panel order or pairs are the same", {
  n <- 10L
  w <- matrix(0, n, n, dimnames = list(1:n, 1:n))
  pairs <- data.frame(a = c(1, 2, 5, 3, 9), b = c(2, 7, 6, 10, 4))
  w[cbind(pairs$a, pairs$b)] <- 1
  w[cbind(pairs$b, pairs$a)] <- 1
  shuffled <- w[c(3, 1, 2, 10:4), c(5, 4, 3, 2, 1, 10:6)]
  forms <- list(named = shuffled, ordered = unname(w), pairs = pairs, logical = w != 0)
  results <- lapply(forms, function(nb) core(cdtest(inv ~ value + capital, data = grunfeld,
                                                    model = "within", neighbours = nb)))
  for (name in names(results)[-1]) expect_identical(results[[name]], results$named, label = name)
})
