// The analysis's input read from the R objects the package's R code hands
// over: the long-format panel (ids and periods as 0-based codes into their
// labels, the dependent column and the regressors' columns,
// missing values NA) and the options. The R code has given every value its
// type (integer codes, doubles, character labels); anything else is refused
// here as an InputError, never coerced.
//
// Everything is read on R's thread and copied, text as UTF-8 (the
// library's text is UTF-8): the panel and the options own their data, and
// the analysis's thread never touches an R object. Text already in UTF-8
// or ASCII, as R holds it in a UTF-8 session, is read where it lies.
#ifndef QVDEP_R_INPUT_H
#define QVDEP_R_INPUT_H

#include <Rcpp.h>  // R's API by its Rf_ names only (R_NO_REMAP)

#include <string>

#include "analysis/input/long_panel.h"
#include "analysis/result/result.h"

namespace qvd::r {

// The list of the panel's columns:
//   id_name, time_name   one string each
//   id_codes, time_codes integer, one 0-based code per row
//   id_labels, time_labels   character, the codes' labels
//   y_name, y            the dependent variable's name and its doubles
//   x_names, x           the regressors' names and their columns (a list of
//                        doubles)
//   row_names            character, each row's name in messages, or NULL
//                        (rows are then named by their 1-based position)
analysis::LongPanel panel_from(SEXP panel);

// The list of options:
//   model, effect (a string, or NULL when not given), intercept, order,
//   restrictions (character), seed, cdw_draws, factors (0: the default),
//   unbalanced, max_memory (a double of bytes, 0 for the default, or a
//   string such as "4G"), exponent_size, exponent_tuning, exponent_draws
//   and exponent_seed (each NULL when not given), exponent_of_dependent,
//   module (the module's path) and neighbours: NULL,
//   list(cells = <double matrix>, row_ids, column_ids) (ids NULL for a
//   matrix in panel order) or list(from = <character>, to = <character>),
//   named in messages by neighbours_name.
analysis::Options options_from(SEXP options);

// The string at `list$name` (one element).
std::string string_element(SEXP list, const char *name);

}  // namespace qvd::r

#endif
