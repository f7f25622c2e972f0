\name{cdtest}
\alias{cdtest}
\alias{cdtest.formula}
\alias{cdtest.panelmodel}
\alias{cdtest.default}
\title{Tests for cross-sectional dependence in the residuals of a panel regression}
\description{
  Fits a panel regression and tests its residuals for cross-sectional
  dependence: the Breusch-Pagan LM, Pesaran's scaled LM, CD and local
  CD(p), the weighted CD and CDw+ of Juodis and Reese, the bias-adjusted LM
  of Pesaran, Ullah and Yamagata, Pesaran and Xie's CD*, Pesaran's
  definitions for unbalanced panels, and Friedman's and Frees' rank tests,
  each with its p-value; and says how strong the dependence is, by the
  exponent of cross-sectional dependence of Bailey, Kapetanios and Pesaran. The computation
  is the qvdep analysis library's, through the module the package carries:
  the figures are those of the command-line tool (\code{qvdep --format json})
  and the Python package on the same panel, to the bit.
}
\usage{
cdtest(formula, ...)

\method{cdtest}{formula}(formula, data, index = NULL, model = "unit",
       effect = "individual", order = 1, neighbours = NULL, restrict = NULL,
       seed = 20220101, cdw_draws = 1, factors = NULL, unbalanced = FALSE,
       max_memory = NULL, exponent_size = 0.10, exponent_tuning = 0.5,
       exponent_draws = NULL, exponent_seed = NULL, exponent_of_dependent = FALSE,
       module = NULL, ...)

\method{cdtest}{panelmodel}(formula, order = 1, neighbours = NULL,
       seed = 20220101, cdw_draws = 1, factors = NULL, unbalanced = FALSE,
       max_memory = NULL, exponent_size = 0.10, exponent_tuning = 0.5,
       exponent_draws = NULL, exponent_seed = NULL, exponent_of_dependent = FALSE,
       module = NULL, ...)

\method{cdtest}{default}(formula, ...)
}
\arguments{
  \item{formula}{a model formula, \code{y ~ x1 + x2}, evaluated by R's
    \code{model.frame} in \code{data} (transformations such as
    \code{log(gsp) ~ log(pcap) + unemp} and factors as R expands them;
    \code{- 1} fits no intercept; \code{y ~ .} takes every column but the
    index); or a model fitted by \pkg{plm} (\code{plm}, \code{pcce}, \ldots),
    whose residuals are tested.}
  \item{data}{a \code{data.frame} in long format, one row per cross-section
    and period, or a \code{pdata.frame} of \pkg{plm}, whose index names the
    cross-sections and periods.}
  \item{index}{for a \code{data.frame}, the names (or positions) of its id
    and time columns; by default the first two columns.}
  \item{model}{the model whose residuals are tested: \code{"unit"}, each
    cross-section's own regression (the module's); \code{"pooling"},
    \code{"within"} (fixed effects), \code{"random"} (Swamy and Arora's
    random effects) and \code{"cce"} (common correlated effects, mean
    group), as \pkg{plm} defines them; \code{"none"}, the response as it is
    (residuals formed elsewhere, or any series, as \pkg{plm}'s
    \code{pcdtest} tests a \code{pseries}): every value of it is tested,
    whatever the regressors hold in its row, which are not used.}
  \item{effect}{the effects of a within or random model: \code{"individual"},
    \code{"time"} or \code{"twoways"}. Given for any other model it is an
    error; left at its default it is not given.}
  \item{order}{the order p of the local CD(p): pairs at most p apart in
    panel order (cross-sections in order of first appearance).}
  \item{neighbours}{the neighbours of the local statistics instead of the
    pairs at most \code{order} apart, as \pkg{plm}'s proximity matrix
    \code{w}: an N x N numeric or logical matrix (a cell not zero makes its
    row's and column's cross-sections neighbours; the lower triangle
    suffices), its rows and columns named by cross-section or in panel
    order; or a data frame of two id columns, one pair of neighbours a
    row.}
  \item{restrict}{linear restrictions on every cross-section's coefficients
    (model \code{"unit"}), as text: \code{"value + capital = 0.2"},
    \code{"2*value - capital = 0"}; \code{const} is the intercept. A
    restriction names regressors that are columns of the data (a name, not
    an expression: for \code{log(value)}, add the column
    \code{log_value} to the data and use it in the formula).}
  \item{seed}{the seed of the weighted CD's random signs.}
  \item{cdw_draws}{the weighted CD's draws of signs (the statistic is
    their sum over the square root of their number).}
  \item{factors}{the principal components CD* takes out, 1 or more and less
    than min(N, T); \code{NULL}: 4, where that fits.}
  \item{unbalanced}{whether to report Pesaran's block of definitions for
    unbalanced panels for a balanced panel too (it is always there when a
    residual is missing).}
  \item{max_memory}{the memory the analysis may take, in bytes or as text
    (\code{"4G"}, \code{"512M"}); \code{NULL}: half of the physical memory.
    A larger panel is refused before it is laid out.}
  \item{exponent_size}{the size p, in (0, 1), of the threshold
    \eqn{c_p = \Phi^{-1}(1 - (p/2)/n^\delta)/\sqrt{T}}{c_p = qnorm(1 - (p/2)/n^delta)/sqrt(T)}
    above which a residual correlation counts as not zero in the residuals'
    exponent alpha (\eqn{n = N(N-1)/2}), and of the multiple test of the
    variable's exponent.}
  \item{exponent_tuning}{the tuning \eqn{\delta}{delta}, in (0, 1], of that
    threshold.}
  \item{exponent_draws}{the draws R of a bootstrap over cross-sections of
    the residuals' alpha, which gives its standard error and 95\% interval;
    \code{NULL}: no bootstrap.}
  \item{exponent_seed}{the seed of those draws; \code{NULL}: \code{seed}.}
  \item{exponent_of_dependent}{whether to give also the exponent of the
    response as it is, bias-adjusted, with its standard error (for model
    \code{"none"} and a \pkg{plm} model, whose series tested is the
    response, it is always given).}
  \item{module}{the path of another build of the qvdep module to run;
    \code{NULL}: the one the package carries in its \file{libs} folder.}
  \item{\dots}{nothing else is taken: an unknown argument is an error.}
}
\details{
  Missing values (\code{NA}) are kept by \code{model.frame}
  (\code{na.action = na.pass}) and left out by the library cell by cell: a
  (cross-section, period) cell with any value missing is incomplete, and
  the residuals are correlated over the periods both cross-sections of a
  pair observe. Periods are ordered as numbers when every period is a
  number, else as text.

  For a model fitted by \pkg{plm}, \code{cdtest} tests its residuals
  \code{resid(model)} as they are (model \code{"none"}), as
  \code{plm::pcdtest(model)} does: the LM, scaled LM and CD are
  \code{pcdtest}'s (the scaled LM's p-value here is its upper tail,
  \code{pcdtest}'s is two-sided). For the bias-corrected scaled LM of
  fixed effects, fit the model here: \code{cdtest(formula, data, model =
  "within")}.

  The analysis runs on a thread of its own; an interrupt (Ctrl-C) stops it
  within about a second and returns to the prompt.
}
\value{
  An object of class \code{"cdtest"}, a list with
  \item{tests}{a named list of \code{"htest"} objects, one per test
    (\code{lm}, \code{scaled_lm}, \code{cd}, \code{local_cd},
    \code{weighted_cd}, \code{weighted_cd_plus}, \code{bias_adjusted_lm},
    \code{cd_star}, \code{friedman}, \code{frees}, and others where they
    apply); a test that is not available has \code{NA} for its statistic
    and p-value and says why in its \code{method}. Friedman's FR is
    chi-squared with T - 1 degrees of freedom (\code{parameter} \code{df}),
    Frees' FRE has the upper tail of Frees' Q law for T periods
    (\code{parameter} \code{T}); when some cross-section lacks a residual
    both rank the periods every cross-section has one in, and their
    \code{method} says so.}
  \item{correlations}{the N x N matrix of residual correlations, its rows
    and columns named by cross-section, \code{NA} for pairs that could not
    be correlated.}
  \item{warnings}{the report's warnings, one string each.}
  \item{model, effect}{the model whose residuals were tested and its effect
    (\code{NA} for a model without effects).}
  \item{panel}{the panel's shape: cross-sections, periods, regressors,
    rows, complete observations, usable and unusable pairs.}
  \item{strength}{how strong the dependence is, the tool's JSON object
    \code{strength} as a list: \code{residuals}, the residuals' exponent
    \code{alpha} with \code{pairs}, \code{nonzero_pairs} (those above the
    \code{threshold}), \code{size}, \code{tuning}, and with a bootstrap its
    \code{draws}, \code{seed}, \code{standard_error}, \code{lower_95} and
    \code{upper_95} (\code{NA} without one); \code{variable}, \code{NULL}
    or the response's exponent: \code{variable} (its name), \code{alpha}
    and \code{standard_error}; \code{rank_tests}: \code{periods}, the T
    the ranks are over, \code{common_periods_only}, and
    \code{frees_critical_10}, \code{_5}, \code{_1}, the critical values of
    Frees' Q. A figure that could not be formed is \code{NA}, and a
    \code{not_available} (or \code{standard_error_not_available}) element
    says why. alpha at most 1/2 is weak dependence (CD's null); near 1,
    strong, as from a common factor.}
  \item{figures}{every figure of the command-line tool's JSON object, as a
    list.}
  \item{common_periods}{the periods each pair of cross-sections shares, an
    N x N integer matrix; \code{NULL} when no residual is missing (each pair
    then shares all the panel's periods).}
  \item{report, legend, formula, call}{the text report, the lines of the
    density picture's legend, the formula and the call.}
  See \code{\link{print.cdtest}} for printing, tabulating and plotting it.
}
\section{Errors}{
  Data, formulas and options that cannot be used are errors of class
  \code{"qvdep_error"} (subclass \code{"qvdep_input_error"}) with the
  library's message, which names the row and column where there is one.
  A module that cannot be loaded is a \code{"qvdep_module_error"}, a
  floating-point fault in the module a \code{"qvdep_floating_point_error"}.
}
\references{
  Breusch, T. S. and Pagan, A. R. (1980). \emph{Review of Economic
  Studies} 47, 239--253.

  Pesaran, M. H. (2004, 2015). General diagnostic tests for cross section
  dependence in panels; Testing weak cross-sectional dependence in large
  panels. \emph{Econometric Reviews} 34, 1089--1117.

  Pesaran, M. H., Ullah, A. and Yamagata, T. (2008). A bias-adjusted LM
  test of error cross-section independence. \emph{Econometrics Journal}
  11, 105--127.

  Pesaran, M. H. and Xie, Y. (2021). A bias-corrected CD test for error
  cross-sectional dependence in panel data models with latent factors.

  Friedman, M. (1937). The use of ranks to avoid the assumption of
  normality implicit in the analysis of variance. \emph{Journal of the
  American Statistical Association} 32, 675--701.

  Frees, E. W. (1995). Assessing cross-sectional correlation in panel
  data. \emph{Journal of Econometrics} 69, 393--414.

  Bailey, N., Kapetanios, G. and Pesaran, M. H. (2016). Exponent of
  cross-sectional dependence: estimation and inference. \emph{Journal of
  Applied Econometrics} 31, 929--960.

  Bailey, N., Kapetanios, G. and Pesaran, M. H. (2019). Exponent of
  cross-sectional dependence for residuals. \emph{Sankhya B} 81, 46--102.

  Juodis, A. and Reese, S. (2022). The incidental parameters problem in
  testing for remaining cross-section correlation. \emph{Journal of
  Business and Economic Statistics} 40, 1191--1203.
}
\seealso{\code{\link{print.cdtest}}; \code{pcdtest} in \pkg{plm}.}
\examples{
# Grunfeld's investment panel: 10 firms, 1935-1954.
grunfeld <- read.csv(system.file("extdata", "grunfeld.csv", package = "qvdep"))
result <- cdtest(inv ~ value + capital, data = grunfeld, index = c("firm", "year"),
                 order = 2)
result
result$tests$cd
result$tests$friedman
result$strength$residuals$alpha
as.data.frame(result)[, c("test", "statistic", "p.value")]

# Fixed effects, as plm's within model, with the bias-corrected scaled LM.
cdtest(log(inv) ~ log(value) + log(capital), data = grunfeld, model = "within")$tests$cd
}
\keyword{htest}
