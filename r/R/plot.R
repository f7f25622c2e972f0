# The two pictures of the command-line tool (--heatmap, --density), drawn
# with R's base graphics: the residual correlation matrix on the tool's
# diverging scale, and the distribution of the correlations.

plot.cdtest <- function(x, type = c("heatmap", "density"), main = NULL, ...) {
  type <- match.arg(type)
  old <- graphics::par(no.readonly = TRUE)
  on.exit(graphics::par(old))
  if (type == "heatmap") heatmap_plot(x, main, ...) else density_plot(x, main, ...)
  invisible(x)
}

# Blue for -1, white for 0, red for +1, mixed linearly, as the tool's
# heatmap (report/colour_scale.h); grey for pairs that could not be
# correlated.
correlation_colours <- colorRampPalette(c("#2166ac", "#f7f7f7", "#b2182b"))

heatmap_plot <- function(x, main, ...) {
  rho <- x$correlations
  n <- nrow(rho)
  labels <- rownames(rho)
  colours <- correlation_colours(201L)
  # A large matrix is drawn as one image, not a rectangle a cell.
  raster <- identical(grDevices::dev.capabilities("rasterImage")$rasterImage, "yes")
  graphics::layout(matrix(1:2, 1L), widths = c(6, 1))
  graphics::par(mar = c(5, 5, 3, 1))
  # Row 1 on top, as the matrix is printed.
  shown <- t(rho)[, n:1, drop = FALSE]
  graphics::image(seq_len(n), seq_len(n), is.na(shown) + 0, col = c("white", "#bdbdbd"),
                  zlim = c(0, 1), axes = FALSE, xlab = x$figures$options$id, ylab = "",
                  main = if (is.null(main)) paste("Residual correlations:", x$formula) else main,
                  useRaster = raster, ...)
  graphics::image(seq_len(n), seq_len(n), shown, col = colours, zlim = c(-1, 1), add = TRUE,
                  useRaster = raster)
  step <- max(1L, ceiling(n / 40))
  at <- seq(1L, n, by = step)
  graphics::axis(1, at = at, labels = labels[at], las = 2, cex.axis = 0.7)
  graphics::axis(2, at = n + 1L - at, labels = labels[at], las = 1, cex.axis = 0.7)
  graphics::box()
  graphics::par(mar = c(5, 1, 3, 3.5))
  scale <- seq(-1, 1, length.out = length(colours))
  graphics::image(1, scale, matrix(scale, 1L), col = colours, axes = FALSE, xlab = "", ylab = "",
                  useRaster = raster)
  graphics::axis(4, las = 1)
  graphics::mtext("residual correlation", side = 4, line = 2.5, cex = 0.8)
  graphics::box()
}

# The usable correlations rho_ij, i < j, and their common periods T_ij.
usable_pairs <- function(x) {
  lower <- lower.tri(x$correlations)
  rho <- x$correlations[lower]
  usable <- !is.na(rho)
  periods <- if (is.null(x$common_periods)) rep(x$panel$periods, sum(usable))
             else x$common_periods[lower][usable]
  list(rho = rho[usable], periods = periods)
}

# The histogram and the kernel density of the correlations (R's, with
# Silverman's bandwidth), and the density they would have without
# dependence, where sqrt(T_ij) rho_ij is about N(0, 1): the mixture over the
# pairs of N(0, 1/T_ij) densities.
density_plot <- function(x, main, ...) {
  pairs <- usable_pairs(x)
  title <- if (is.null(main)) paste("Residual correlations:", x$formula) else main
  if (!length(pairs$rho)) {
    graphics::plot.new()
    graphics::title(main = title)
    graphics::text(0.5, 0.5, "no pair could be correlated")
    return(invisible())
  }
  m <- length(pairs$rho)
  bars <- graphics::hist(pairs$rho, breaks = min(60, max(10, round(sqrt(m)))), plot = FALSE)
  # The kernel's tails end at the data's range widened by three bandwidths,
  # and within [-1, 1].
  bandwidth <- if (m > 1L) stats::bw.nrd0(pairs$rho) else 0.01
  kernel <- stats::density(pairs$rho, bw = bandwidth,
                           from = max(-1, min(pairs$rho) - 3 * bandwidth),
                           to = min(1, max(pairs$rho) + 3 * bandwidth))
  shares <- table(pairs$periods) / m
  roots <- sqrt(as.double(names(shares)))
  null <- vapply(kernel$x, function(r) sum(shares * roots * stats::dnorm(r * roots)), 0)
  top <- max(bars$density, kernel$y, null)
  graphics::plot(range(bars$breaks, kernel$x), c(0, top * 1.05), type = "n",
                 xlab = "residual correlation", ylab = "density", main = title, ...)
  graphics::rect(bars$breaks[-length(bars$breaks)], 0, bars$breaks[-1L], bars$density,
                 col = "grey85", border = "white")
  graphics::lines(kernel, col = "#2166ac", lwd = 2)
  graphics::lines(kernel$x, null, col = "#b2182b", lty = 2, lwd = 1.5)
  # (Greek letters spelt out: not every device's fonts have them.)
  legend <- gsub("\u03c1", "rho", x$legend, fixed = TRUE)
  graphics::legend("topright", bty = "n", cex = 0.8,
                   legend = c(sprintf("histogram of %d pairs", m),
                              sprintf("kernel density (h = %.3g)", kernel$bw),
                              "density without dependence", legend),
                   fill = c("grey85", NA, NA, rep(NA, length(legend))),
                   border = c("white", NA, NA, rep(NA, length(legend))),
                   lty = c(NA, 1, 2, rep(NA, length(legend))),
                   col = c(NA, "#2166ac", "#b2182b", rep(NA, length(legend))))
}
