# Printing and tabulating a "cdtest" object.

print.cdtest <- function(x, ...) {
  cat(x$report)
  invisible(x)
}

as.data.frame.cdtest <- function(x, row.names = NULL, optional = FALSE, ...) {
  rows <- x$figures$tests
  # A field of every row; absent, or null in the JSON, it is NA.
  field <- function(name, type) {
    vapply(rows, function(row) {
      value <- row[[name]]
      if (is.null(value) || is.na(value)) type[NA_integer_] else value
    }, type)
  }
  frame <- data.frame(test = field("name", ""),
                      statistic = field("statistic", NA_real_),
                      distribution = field("distribution", ""),
                      p.value = field("p_value", NA_real_),
                      reference = field("reference", ""),
                      available = is.na(field("not_available", "")),
                      note = field("note", ""),
                      stringsAsFactors = FALSE)
  rownames(frame) <- if (is.null(row.names)) names(x$tests) else row.names
  frame
}

summary.cdtest <- function(object, ...) {
  structure(list(formula = object$formula, model = object$model, effect = object$effect,
                 panel = object$panel, table = as.data.frame(object),
                 average_correlation = object$figures$average_correlation,
                 average_abs_correlation = object$figures$average_abs_correlation,
                 strength = object$strength, warnings = object$warnings),
            class = "summary.cdtest")
}

print.summary.cdtest <- function(x, digits = max(3L, getOption("digits") - 3L), ...) {
  p <- x$panel
  cat("Cross-sectional dependence tests of the residuals of", x$formula, "\n")
  cat("model: ", x$model, if (!is.na(x$effect)) paste0(" (", x$effect, " effects)"), "\n", sep = "")
  cat(sprintf("panel: %d cross-sections, %d periods, %d complete observations, %d usable pairs\n\n",
              as.integer(p$cross_sections), as.integer(p$periods),
              as.integer(p$complete_observations), as.integer(p$usable_pairs)))
  t <- x$table
  shown <- data.frame(statistic = format(t$statistic, digits = digits),
                      distribution = t$distribution,
                      p.value = ifelse(t$available, format.pval(t$p.value, digits = digits),
                                       "not available"),
                      row.names = t$test, check.names = FALSE)
  print(shown, right = TRUE)
  cat(sprintf("\naverage correlation %s, average absolute correlation %s\n",
              format(x$average_correlation, digits = digits),
              format(x$average_abs_correlation, digits = digits)))
  print_strength(x$strength, digits)
  for (note in unique(stats::na.omit(t$note))) cat("note: ", note, "\n", sep = "")
  for (w in x$warnings) cat("warning: ", w, "\n", sep = "")
  invisible(x)
}

# The exponents of dependence in a line each: alpha with its bootstrap's
# standard error and interval where there is one, the variable's with its
# standard error; why a figure is missing where the library says.
print_strength <- function(strength, digits) {
  shown <- function(x, why = NULL)
    if (!is.na(x)) format(x, digits = digits)
    else paste0("not available", if (!is.null(why)) paste0(" (", why, ")"))
  r <- strength$residuals
  cat("exponent of dependence of the residuals: alpha ", shown(r$alpha, r$not_available),
      sep = "")
  if (!is.na(r$standard_error))
    cat(sprintf(" (s.e. %s, 95%% interval %s to %s, %d draws)", shown(r$standard_error),
                shown(r$lower_95), shown(r$upper_95), as.integer(r$draws)))
  cat("\n")
  v <- strength$variable
  if (!is.null(v)) {
    cat(sprintf("exponent of dependence of %s: alpha %s", v$variable,
                shown(v$alpha, v$not_available)))
    if (!is.na(v$alpha))
      cat(", s.e.", shown(v$standard_error, v$standard_error_not_available))
    cat("\n")
  }
}
