# Both pictures draw a panel with gaps (the pairs' own common periods) and
# one of a single usable pair, without an error or a warning.
test_that("the heatmap and the density draw", {
  gaps <- read.csv(test_path("fixtures", "grunfeld-gaps.csv"))
  two <- gaps[gaps$firm %in% c(1, 2), ]
  grDevices::pdf(NULL)
  on.exit(grDevices::dev.off())
  for (data in list(gaps, two)) {
    r <- cdtest(inv ~ value + capital, data = data)
    expect_silent(plot(r))
    expect_silent(plot(r, type = "density"))
  }
})
