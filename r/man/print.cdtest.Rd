\name{print.cdtest}
\alias{print.cdtest}
\alias{summary.cdtest}
\alias{print.summary.cdtest}
\alias{as.data.frame.cdtest}
\alias{plot.cdtest}
\title{Printing, tabulating and drawing the result of \code{cdtest}}
\description{
  \code{print} writes the command-line tool's report; \code{summary} gives a
  compact table of the tests; \code{as.data.frame} one row per test;
  \code{plot} the tool's pictures, with base graphics: the residual
  correlation matrix as a heatmap, or the distribution of the correlations.
}
\usage{
\method{print}{cdtest}(x, ...)

\method{summary}{cdtest}(object, ...)

\method{print}{summary.cdtest}(x, digits = max(3L, getOption("digits") - 3L), ...)

\method{as.data.frame}{cdtest}(x, row.names = NULL, optional = FALSE, ...)

\method{plot}{cdtest}(x, type = c("heatmap", "density"), main = NULL, ...)
}
\arguments{
  \item{x, object}{a \code{"cdtest"} object (or its summary).}
  \item{digits}{significant digits of the summary's statistics and
    p-values.}
  \item{row.names}{row names of the data frame; by default each test's key
    (\code{"lm"}, \code{"cd"}, \ldots, as the names of \code{x$tests}).}
  \item{optional}{not used (the columns' names are always as below).}
  \item{type}{\code{"heatmap"}: the correlation matrix on a diverging scale
    (blue -1, white 0, red +1, grey for pairs that could not be
    correlated); \code{"density"}: the histogram of the usable correlations
    with their kernel density, the density they would have without
    dependence, and CD and CDw+ in the legend.}
  \item{main}{the picture's title; by default the formula's.}
  \item{\dots}{for \code{plot}, further graphical parameters of the main
    panel; otherwise not used.}
}
\value{
  \code{print} and \code{plot} return \code{x} invisibly.
  \code{as.data.frame} gives one row per test with columns \code{test}
  (its name in the report), \code{statistic}, \code{distribution}
  (\code{"chi2(45)"}, \code{"N(0,1) two-sided"}, \ldots), \code{p.value},
  \code{reference} (where the statistic is defined) and \code{available}
  (\code{FALSE} for a test that could not be formed, whose statistic and
  p-value are \code{NA}) and \code{note} (the periods Friedman's and
  Frees' ranks are over when some cross-section lacks a residual, else
  \code{NA}). \code{summary} returns an object of class
  \code{"summary.cdtest"} holding that table, the panel's shape, the
  average correlations, the exponents of dependence (\code{strength}) and
  the warnings; its print shows them with the rows' notes.
}
\seealso{\code{\link{cdtest}}}
\examples{
grunfeld <- read.csv(system.file("extdata", "grunfeld.csv", package = "qvdep"))
result <- cdtest(inv ~ value + capital, data = grunfeld)
summary(result)
as.data.frame(result)
plot(result)
plot(result, type = "density")
}
\keyword{hplot}
\keyword{print}
