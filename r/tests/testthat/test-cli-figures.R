# The figures equal the command-line tool's JSON object on the same panel,
# bit for bit. Each case's object is the tool's output for its command line,
# stored in fixtures/<case>.json, written by the tool as
#   qvdep --id firm --time year --y inv --x value,capital ARGS --format json FILE
# (FILE: the package's extdata/grunfeld.csv or fixtures/grunfeld-gaps.csv,
# run from the project's root). With QVDEP_CLI naming the tool (scripts/test
# r), the tool is run instead.

grunfeld <- function() read.csv(system.file("extdata", "grunfeld.csv", package = "qvdep"))
gaps_file <- test_path("fixtures", "grunfeld-gaps.csv")
pairs_file <- test_path("fixtures", "grunfeld-pairs.csv")

cases <- list(
  list(name = "grunfeld-order2", file = "grunfeld", args = c("--order", "2"),
       run = function(d) cdtest(inv ~ value + capital, data = d, index = c("firm", "year"),
                                order = 2)),
  # Missing cells and periods: Pesaran's unbalanced block; seed and draws.
  list(name = "grunfeld-gaps", file = "gaps",
       args = c("--order", "3", "--seed", "7", "--cdw-draws", "3"),
       run = function(d) cdtest(inv ~ value + capital, data = d, order = 3, seed = 7,
                                cdw_draws = 3)),
  # No intercept, a restriction, the unbalanced block asked for, two factors.
  list(name = "grunfeld-restricted", file = "grunfeld",
       args = c("--no-intercept", "--restrict", "value + capital = 0.2", "--unbalanced",
                "--factors", "2"),
       run = function(d) cdtest(inv ~ value + capital - 1, data = d,
                                restrict = "value + capital = 0.2", unbalanced = TRUE,
                                factors = 2)),
  # The panel models, with plm's block (LM_BC after two-way fixed effects),
  # and on the panel with gaps; neighbours as pairs; model none keeps the
  # cells whose regressors are missing.
  list(name = "grunfeld-within-twoways", file = "grunfeld",
       args = c("--model", "within", "--effect", "twoways"),
       run = function(d) cdtest(inv ~ value + capital, data = d, model = "within",
                                effect = "twoways")),
  list(name = "grunfeld-gaps-random-time", file = "gaps",
       args = c("--model", "random", "--effect", "time"),
       run = function(d) cdtest(inv ~ value + capital, data = d, model = "random",
                                effect = "time")),
  list(name = "grunfeld-gaps-cce-pairs", file = "gaps",
       args = c("--model", "cce", "--neighbours", pairs_file),
       run = function(d) cdtest(inv ~ value + capital, data = d, model = "cce",
                                neighbours = read.csv(pairs_file))),
  list(name = "grunfeld-gaps-none", file = "gaps", args = c("--model", "none"),
       run = function(d) cdtest(inv ~ value + capital, data = d, model = "none")),
  # Every option of the exponents of dependence, the bootstrap among them.
  list(name = "grunfeld-within-exponents", file = "grunfeld",
       args = c("--model", "within", "--exponent-size", "0.05", "--exponent-tuning", "0.75",
                "--exponent-draws", "30", "--exponent-seed", "11", "--exponent-of-dependent"),
       run = function(d) cdtest(inv ~ value + capital, data = d, model = "within",
                                exponent_size = 0.05, exponent_tuning = 0.75,
                                exponent_draws = 30, exponent_seed = 11,
                                exponent_of_dependent = TRUE)))

tool_json <- function(case) {
  cli <- Sys.getenv("QVDEP_CLI")
  if (!nzchar(cli)) return(jsonlite::fromJSON(test_path("fixtures", paste0(case$name, ".json")),
                                              simplifyVector = FALSE))
  file <- if (case$file == "gaps") gaps_file
          else system.file("extdata", "grunfeld.csv", package = "qvdep")
  out <- system2(cli, c("--id", "firm", "--time", "year", "--y", "inv", "--x", "value,capital",
                        shQuote(case$args), "--format", "json", shQuote(file)), stdout = TRUE)
  jsonlite::fromJSON(paste(out, collapse = "\n"), simplifyVector = FALSE)
}

# A JSON number (null: NA) as R's double.
num <- function(x) {
  if (is.null(x) || (length(x) == 1L && is.na(x))) NA_real_ else as.double(unlist(x))
}

# A JSON value: text as it is, else a number.
value <- function(x) if (is.character(x)) x else num(x)

test_that("the figures are the command-line tool's, bit for bit", {
  skip_if_not_installed("jsonlite")
  for (case in cases) {
    data <- if (case$file == "gaps") read.csv(gaps_file) else grunfeld()
    r <- case$run(data)
    json <- tool_json(case)
    f <- r$figures
    for (key in c("lm_df", "lm_pvalue_tool", "average_correlation", "average_abs_correlation",
                  "weighted_cd", "weighted_cd_pvalue", "weighted_cd_plus",
                  "weighted_cd_plus_pvalue", "cd_star_w", "weighted_cd_signs"))
      expect_identical(num(f[[key]]), num(json[[key]]), label = paste(case$name, key))
    for (block in c("module", "panel", "unbalanced"))
      for (key in names(json[[block]]))
        expect_identical(num(f[[block]][[key]]), num(json[[block]][[key]]),
                         label = paste(case$name, block, key))
    kinds <- vapply(json$tests, function(row) row$kind, "")
    expect_identical(names(r$tests), kinds, label = case$name)
    for (i in seq_along(kinds)) {
      expect_identical(num(unname(r$tests[[i]]$statistic)), num(json$tests[[i]]$statistic),
                       label = paste(case$name, kinds[[i]]))
      expect_identical(num(r$tests[[i]]$p.value), num(json$tests[[i]]$p_value),
                       label = paste(case$name, kinds[[i]], "p-value"))
    }
    expect_identical(as.data.frame(r)$note,
                     vapply(json$tests, function(row) if (is.null(row$note)) NA_character_
                                                      else row$note, ""),
                     label = paste(case$name, "notes"))
    periods <- num(json$strength$rank_tests$periods)
    expect_identical(unname(r$tests$friedman$parameter), periods - 1, label = case$name)
    expect_identical(unname(r$tests$frees$parameter), periods, label = case$name)
    for (block in c("residuals", "variable", "rank_tests")) {
      expect_identical(is.null(r$strength[[block]]), is.null(json$strength[[block]]),
                       label = paste(case$name, block))
      expect_identical(sort(names(r$strength[[block]])), sort(names(json$strength[[block]])),
                       label = paste(case$name, block, "fields"))
      for (key in names(json$strength[[block]]))
        expect_identical(value(r$strength[[block]][[key]]), value(json$strength[[block]][[key]]),
                         label = paste(case$name, "strength", block, key))
    }
    expect_identical(r$warnings, as.character(unlist(json$warnings)), label = case$name)
    expect_identical(c(r$model, r$effect), c(json$options$model,
                                             if (is.null(json$options$effect)) NA
                                             else json$options$effect), label = case$name)
  }
})
