# cdtest(): the dependence tests on a panel held in R, run by the qvdep
# analysis library through the module the package carries, with the
# command-line tool's figures and report.

cdtest <- function(formula, ...) UseMethod("cdtest")

cdtest.default <- function(formula, ...) {
  qvdep_stop(sprintf("cdtest takes a formula and a data frame, or a plm model, not %s",
                     paste(class(formula), collapse = "/")))
}

cdtest.formula <- function(formula, data, index = NULL, model = "unit",
                           effect = "individual", order = 1, neighbours = NULL,
                           restrict = NULL, seed = 20220101, cdw_draws = 1,
                           factors = NULL, unbalanced = FALSE, max_memory = NULL,
                           exponent_size = 0.10, exponent_tuning = 0.5, exponent_draws = NULL,
                           exponent_seed = NULL, exponent_of_dependent = FALSE,
                           module = NULL, ...) {
  no_other_arguments(...)
  if (missing(data)) qvdep_stop("cdtest needs the data: cdtest(y ~ x, data = frame)")
  columns <- panel_columns(formula, data, index)
  options <- analysis_options(
    model = model, effect = if (!missing(effect)) effect, intercept = columns$intercept,
    order = order, neighbours = neighbours,
    neighbours_name = paste(deparse(substitute(neighbours)), collapse = " "),
    restrict = restrict, seed = seed, cdw_draws = cdw_draws, factors = factors,
    unbalanced = unbalanced, max_memory = max_memory,
    exponent = list(size = exponent_size, tuning = exponent_tuning, draws = exponent_draws,
                    seed = exponent_seed, of_dependent = exponent_of_dependent),
    module = module)
  source <- paste(deparse(substitute(data)), collapse = " ")
  run_cdtest(columns$panel, options, source, columns$formula, sys.call())
}

no_other_arguments <- function(...) {
  extra <- names(list(...))
  if (...length())
    qvdep_stop(sprintf("unknown argument%s to cdtest: %s", if (...length() > 1L) "s" else "",
                       paste(if (is.null(extra)) "(unnamed)" else extra, collapse = ", ")))
}

# One number (a whole number for the counts), or NULL where NULL is allowed.
scalar_number <- function(x, name) {
  if (!is.numeric(x) || length(x) != 1L || is.na(x))
    qvdep_stop(sprintf("%s must be one number", name))
  as.double(x)
}

scalar_string <- function(x, name) {
  if (!is.character(x) || length(x) != 1L || is.na(x))
    qvdep_stop(sprintf("%s must be one string", name))
  x
}

scalar_flag <- function(x, name) {
  if (!is.logical(x) || length(x) != 1L || is.na(x))
    qvdep_stop(sprintf("%s must be TRUE or FALSE", name))
  x
}

# The neighbours of the local statistics as the library takes them: a
# proximity matrix (N x N, rows and columns named by cross-section or in
# panel order; a cell not zero makes a pair neighbours) or a data frame of
# two id columns, one pair a row.
neighbour_spec <- function(w) {
  if (is.null(w)) return(NULL)
  if (is.data.frame(w)) {
    if (ncol(w) != 2L) qvdep_stop("neighbours as a data frame: two id columns, one pair a row")
    if (anyNA(w[[1L]]) || anyNA(w[[2L]])) qvdep_stop("neighbours: a pair names a missing id")
    return(list(from = label_text(w[[1L]]), to = label_text(w[[2L]])))
  }
  if (!is.matrix(w) || !(is.numeric(w) || is.logical(w)))
    qvdep_stop("neighbours must be a numeric or logical matrix, or a data frame of two id columns")
  cells <- w
  storage.mode(cells) <- "double"
  names <- dimnames(w)
  if (is.null(names[[1L]]) || is.null(names[[2L]])) return(list(cells = cells))
  list(cells = cells, row_ids = as.character(names[[1L]]), column_ids = as.character(names[[2L]]))
}

# The module run is the one in the package's libs/ unless `module` names
# another build of it. `exponent` holds the exponents' size, tuning, draws
# and seed (NULL: none, and `seed`) and of_dependent; the library says
# which values it refuses.
analysis_options <- function(model, effect, intercept, order, neighbours, neighbours_name,
                             restrict, seed, cdw_draws, factors, unbalanced, max_memory,
                             exponent, module) {
  if (!is.null(restrict) && (!is.character(restrict) || anyNA(restrict)))
    qvdep_stop("restrict must be a character vector of restrictions: \"value + capital = 0.2\"")
  memory <- if (is.null(max_memory)) 0 else if (is.character(max_memory))
    scalar_string(max_memory, "max_memory") else scalar_number(max_memory, "max_memory")
  list(model = scalar_string(model, "model"),
       effect = if (!is.null(effect)) scalar_string(effect, "effect"),
       intercept = intercept,
       order = scalar_number(order, "order"),
       restrictions = as.character(restrict),
       seed = scalar_number(seed, "seed"),
       cdw_draws = scalar_number(cdw_draws, "cdw_draws"),
       factors = if (is.null(factors)) 0 else scalar_number(factors, "factors"),
       unbalanced = scalar_flag(unbalanced, "unbalanced"),
       max_memory = memory,
       exponent_size = scalar_number(exponent$size, "exponent_size"),
       exponent_tuning = scalar_number(exponent$tuning, "exponent_tuning"),
       exponent_draws = if (!is.null(exponent$draws))
         scalar_number(exponent$draws, "exponent_draws"),
       exponent_seed = if (!is.null(exponent$seed)) scalar_number(exponent$seed, "exponent_seed"),
       exponent_of_dependent = scalar_flag(exponent$of_dependent, "exponent_of_dependent"),
       module = if (is.null(module)) .state$module
                else path.expand(scalar_string(module, "module")),
       neighbours = neighbour_spec(neighbours),
       neighbours_name = neighbours_name)
}

# Runs the analysis and makes its "cdtest" object; the library's refusals
# become R errors of class qvdep_error.
run_cdtest <- function(panel, options, source, formula, call) {
  out <- .Call(C_qvdep_cdtest, panel, options, list(source = source))
  if (!is.null(out$error)) qvdep_stop(out$message, class = out$error, call = call)
  new_cdtest(out, formula, source, call)
}

# One test row of the figures as an "htest" object: a chi-squared
# statistic with its df, Frees' FRE with the periods T of its Q law, else a
# normal z. The row's note (the periods the ranks are over) and why it is
# not available, where it says so, are in the method.
as_htest <- function(row, title, data_name) {
  chi2 <- startsWith(row$distribution, "chi2(")
  frees <- startsWith(row$distribution, "Q(")
  inside <- if (chi2 || frees)
    as.double(sub("^[^(]*\\(([^)]*)\\).*$", "\\1", row$distribution))
  remarks <- c(row$note, if (!is.null(row$not_available))
                           paste("not available:", row$not_available))
  test <- list(
    statistic = stats::setNames(as.double(row$statistic),
                                if (chi2) "chisq" else if (frees) "FRE" else "z"),
    parameter = if (chi2) c(df = inside) else if (frees) c(T = inside),
    p.value = as.double(row$p_value),
    method = paste0(title, " test for cross-sectional dependence in panels",
                    if (length(remarks)) paste0(" (", paste(remarks, collapse = "; "), ")")),
    alternative = "cross-sectional dependence",
    data.name = data_name)
  structure(test[!vapply(test, is.null, NA)], class = "htest")
}

new_cdtest <- function(out, formula, source, call) {
  figures <- out$figures
  formula_text <- paste(deparse(formula, width.cutoff = 500L), collapse = " ")
  data_name <- paste0(formula_text, ", data ", source)
  tests <- Map(as_htest, figures$tests, out$titles, MoreArgs = list(data_name = data_name))
  names(tests) <- vapply(figures$tests, function(row) row$kind, "")
  structure(list(tests = tests,
                 correlations = out$correlations,
                 warnings = as.character(unlist(figures$warnings)),
                 model = out$model,
                 effect = out$effect,
                 panel = figures$panel,
                 figures = figures,
                 strength = strength_of(figures$strength),
                 common_periods = out$common_periods,
                 report = out$report,
                 legend = out$legend,
                 formula = formula_text,
                 call = call),
            class = "cdtest")
}

# The JSON object's "strength" with its nulls as R has them: a figure that
# is not there NA_real_ (a seed or draws NA too), the variable's block NULL
# when there is none.
strength_of <- function(strength) {
  numbers <- function(block)
    lapply(block, function(value)
      if (!is.character(value) && length(value) == 1L && is.na(value)) NA_real_ else value)
  list(residuals = numbers(strength$residuals),
       variable = if (is.list(strength$variable)) numbers(strength$variable),
       rank_tests = strength$rank_tests)
}
