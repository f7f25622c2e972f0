# cdtest() of a model fitted by plm (plm(), pcce(), pggls(), ...): the
# model's own residuals, resid(x), tested as they are (the library's model
# "none"), which is what pcdtest(x) tests: plm's definitions (correlations
# centred over each pair's common periods, the pairs that have one), the
# same figures to the last bits, and the weighted CD, CDw+ and CD* of the
# same residuals beside them.
#
# Refitting the model in the library from its formula and data (model =
# "within", ...) gives the same residuals up to rounding, about 1e-15
# relative, and pcdtest's figures no closer; it is what cdtest(formula,
# data, model = ...) does, with LM_BC for fixed effects by cross-section.

cdtest.panelmodel <- function(formula, order = 1, neighbours = NULL, seed = 20220101,
                              cdw_draws = 1, factors = NULL, unbalanced = FALSE,
                              max_memory = NULL, exponent_size = 0.10, exponent_tuning = 0.5,
                              exponent_draws = NULL, exponent_seed = NULL,
                              exponent_of_dependent = FALSE, module = NULL, ...) {
  no_other_arguments(...)
  fitted <- formula
  residuals <- stats::residuals(fitted)
  index <- attr(residuals, "index")
  if (is.null(index)) index <- attr(stats::model.frame(fitted), "index")
  if (is.null(index) || length(residuals) != nrow(index))
    qvdep_stop("the model's residuals carry no panel index (a plm model's do)")
  keys <- names(index)[1:2]
  id <- panel_key(index[[1L]], keys[[1L]], NULL)
  time <- panel_key(index[[2L]], keys[[2L]], NULL)
  panel <- list(id_name = keys[[1L]], time_name = keys[[2L]],
                id_codes = id$codes, id_labels = id$labels,
                time_codes = time$codes, time_labels = time$labels,
                y_name = "residuals", y = as.double(residuals),
                x_names = character(), x = list(), row_names = NULL)
  options <- analysis_options(
    model = "none", effect = NULL, intercept = FALSE, order = order,
    neighbours = neighbours,
    neighbours_name = paste(deparse(substitute(neighbours)), collapse = " "),
    restrict = NULL, seed = seed, cdw_draws = cdw_draws, factors = factors,
    unbalanced = unbalanced, max_memory = max_memory,
    exponent = list(size = exponent_size, tuning = exponent_tuning, draws = exponent_draws,
                    seed = exponent_seed, of_dependent = exponent_of_dependent),
    module = module)
  source <- paste(deparse(substitute(formula)), collapse = " ")
  plm_formula <- if (!is.null(fitted$formula)) stats::formula(fitted$formula) else residuals ~ 0
  run_cdtest(panel, options, source, plm_formula, sys.call())
}
