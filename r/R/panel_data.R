# From a data frame and a formula to the columns the library reads: the
# cross-section and period of every row as 0-based codes into their labels,
# the dependent variable and the regressors as doubles (NA missing), and the
# names messages and the report use. Rows are not dropped here: a missing
# value leaves its (cross-section, period) cell incomplete, and the library
# leaves out incomplete cells, as it does for a CSV file.

# The text of distinct labels: factors and strings as they are, whole
# numbers without exponent or decimals, other numbers with 15 significant
# digits (17 where 15 would make two of them one), dates and other classes
# as as.character writes them.
label_text <- function(values) {
  if (is.factor(values)) return(as.character(values))
  if (is.double(values) && !is.object(values)) {
    text <- sprintf("%.15g", values)
    if (anyDuplicated(text)) text <- sprintf("%.17g", values)
    return(text)
  }
  as.character(values)
}

# A row's name in messages: its row name where the data frame has its own,
# else its number.
row_label <- function(row_names, row) {
  if (is.null(row_names)) as.character(row) else row_names[[row]]
}

# The codes (0-based, by order of first appearance) and labels of an id or
# time column; a missing id or period is an error naming its row.
panel_key <- function(x, name, row_names) {
  if (is.null(x) || !is.atomic(x) || is.complex(x) || is.matrix(x))
    qvdep_stop(sprintf("the %s column must hold one label a row", name))
  if (anyNA(x))
    qvdep_stop(sprintf("row %s: %s is missing", row_label(row_names, which(is.na(x))[1L]), name))
  if (is.factor(x)) return(list(codes = as.integer(x) - 1L, labels = levels(x)))
  distinct <- unique(x)
  list(codes = match(x, distinct) - 1L, labels = label_text(distinct))
}

# The data frame's own row names, as print() shows them (those of a subset,
# say); NULL for automatic ones, which are the rows' numbers (told apart
# without expanding R's compact form of them).
own_row_names <- function(data) {
  if (.row_names_info(data, type = 1L) < 0L) NULL else as.character(attr(data, "row.names"))
}

# A pdata.frame's columns (pseries) as plain vectors.
plain_frame <- function(data) {
  attr(data, "index") <- NULL
  class(data) <- "data.frame"
  data[] <- lapply(data, function(column) {
    if (inherits(column, "pseries")) {
      attr(column, "index") <- NULL
      class(column) <- setdiff(class(column), "pseries")
      if (!length(class(column))) column <- unclass(column)
    }
    column
  })
  data
}

# The index of `data`: a pdata.frame's own, else the columns `index` names
# (by default the first two).
panel_index <- function(data, index) {
  if (inherits(data, "pdata.frame")) {
    if (!is.null(index))
      qvdep_stop("a pdata.frame carries its own index: give index only with a data.frame")
    keys <- attr(data, "index")
    return(list(id = keys[[1L]], time = keys[[2L]], names = names(keys)[1:2]))
  }
  if (is.null(index)) {
    if (ncol(data) < 2L) qvdep_stop("the data frame needs an id and a time column")
    index <- names(data)[1:2]
  }
  if (is.numeric(index)) index <- names(data)[index]
  if (!is.character(index) || length(index) != 2L || anyNA(index))
    qvdep_stop("index must name the id and time columns: index = c(\"id\", \"time\")")
  missing <- setdiff(index, names(data))
  if (length(missing))
    qvdep_stop(sprintf("no column \"%s\" in the data (index)", missing[[1L]]))
  list(id = data[[index[[1L]]]], time = data[[index[[2L]]]], names = index)
}

# The regressors' columns of a model frame: each term's own column where
# every term is one numeric variable (the frame's vectors, not copied),
# else the columns of R's model matrix (factors, interactions, matrices),
# without the intercept's.
regressor_columns <- function(frame, model_terms, intercept) {
  variables <- as.list(frame)[-1L]
  plain <- function(v) is.numeric(v) && !is.matrix(v) && (!is.object(v) || inherits(v, "AsIs"))
  if (identical(names(variables), attr(model_terms, "term.labels")) &&
      all(vapply(variables, plain, NA)))
    return(lapply(variables, function(v) as.double(unclass(v))))
  x <- model.matrix(model_terms, frame)
  keep <- colnames(x) != "(Intercept)"
  stats::setNames(lapply(which(keep), function(j) as.double(x[, j])), colnames(x)[keep])
}

# The response and the regressors of `formula` over the rows of `data`,
# evaluated by R (transformations and all) with missing values kept. The
# library fits the intercept itself: "- 1" drops it.
model_columns <- function(formula, data, index_names) {
  if (!inherits(formula, "formula") || length(formula) != 3L)
    qvdep_stop("the formula needs a response and regressors: y ~ x1 + x2")
  in_formula <- function(expr) {
    tryCatch(expr, error = function(e) qvdep_stop(paste0("the formula: ", conditionMessage(e))))
  }
  # "y ~ ." takes every column but the response and the index.
  if ("." %in% all.vars(formula[[3L]])) {
    variables <- data[setdiff(names(data), index_names)]
    formula <- in_formula(stats::formula(terms(formula, data = variables)))
  }
  frame <- in_formula(model.frame(formula, data = data, na.action = na.pass,
                                  drop.unused.levels = TRUE))
  model_terms <- attr(frame, "terms")
  if (!is.null(attr(model_terms, "offset")))
    qvdep_stop("the formula: offsets are not taken")
  y <- model.response(frame)
  y_name <- paste(deparse(formula[[2L]], width.cutoff = 500L), collapse = " ")
  # (R would drop it with a warning; the library refuses it.)
  if (y_name %in% attr(model_terms, "term.labels"))
    qvdep_stop(sprintf("the dependent variable \"%s\" is also among the regressors", y_name))
  if (!(is.numeric(y) || is.logical(y)) || is.matrix(y))
    qvdep_stop(sprintf("the formula: the response %s is not one numeric column", y_name))
  intercept <- attr(model_terms, "intercept") == 1L
  x <- in_formula(regressor_columns(frame, model_terms, intercept))
  list(y_name = y_name, y = as.double(unname(y)), x_names = as.character(names(x)),
       x = unname(x), intercept = intercept, formula = formula)
}

# The panel's columns for the library, from `data` and `formula`.
panel_columns <- function(formula, data, index) {
  if (!is.data.frame(data)) qvdep_stop("data must be a data.frame or a pdata.frame")
  keys <- panel_index(data, index)
  if (inherits(data, "pdata.frame")) data <- plain_frame(data)
  row_names <- own_row_names(data)
  id <- panel_key(keys$id, keys$names[[1L]], row_names)
  time <- panel_key(keys$time, keys$names[[2L]], row_names)
  columns <- model_columns(formula, data, keys$names)
  list(
    panel = list(id_name = keys$names[[1L]], time_name = keys$names[[2L]],
                 id_codes = id$codes, id_labels = id$labels,
                 time_codes = time$codes, time_labels = time$labels,
                 y_name = columns$y_name, y = columns$y,
                 x_names = columns$x_names, x = columns$x, row_names = row_names),
    intercept = columns$intercept, formula = columns$formula)
}
