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
correlation_colours <- grDevices::colorRampPalette(c("#2166ac", "#f7f7f7", "#b2182b"))

heatmap_plot <- function(x, main, ...) {
  rho <- x$correlations
  n <- nrow(rho)
  labels <- rownames(rho)
  colours <- correlation_colours(201L)
  graphics::layout(matrix(1:2, 1L), widths = c(6, 1))
  graphics::par(mar = c(5, 5, 3, 1))
  # Row 1 on top, as the matrix is printed.
  shown <- t(rho)[, n:1, drop = FALSE]
  graphics::image(seq_len(n), seq_len(n), is.na(shown) + 0, col = c("white", "#bdbdbd"),
                  zlim = c(0, 1), axes = FALSE, xlab = x$figures$options$id, ylab = "",
                  main = if (is.null(main)) paste("Residual correlations:", x$formula) else main,
                  ...)
  graphics::image(seq_len(n), seq_len(n), shown, col = colours, zlim = c(-1, 1), add = TRUE)
  step <- max(1L, ceiling(n / 40))
  at <- seq(1L, n, by = step)
  graphics::axis(1, at = at, labels = labels[at], las = 2, cex.axis = 0.7)
  graphics::axis(2, at = n + 1L - at, labels = labels[at], las = 1, cex.axis = 0.7)
  graphics::box()
  graphics::par(mar = c(5, 1, 3, 3.5))
  scale <- seq(-1, 1, length.out = length(colours))
  graphics::image(1, scale, matrix(scale, 1L), col = colours, axes = FALSE, xlab = "", ylab = "")
  graphics::axis(4, las = 1)
  graphics::mtext("residual correlation", side = 4, line = 2.5, cex = 0.8)
  graphics::box()
}

density_plot <- function(x, main, ...) {
  d <- x$density
  title <- if (is.null(main)) paste("Residual correlations:", x$formula) else main
  if (d$pairs == 0) {
    graphics::plot.new()
    graphics::title(main = title)
    graphics::text(0.5, 0.5, "no pair could be correlated")
    return(invisible())
  }
  edges <- seq(d$low, d$high, length.out = length(d$bar_heights) + 1L)
  top <- max(d$bar_heights, d$estimate, d$null_density)
  graphics::plot(range(edges), c(0, top * 1.05), type = "n", xlab = "residual correlation",
                 ylab = "density", main = title, ...)
  graphics::rect(edges[-length(edges)], 0, edges[-1L], d$bar_heights, col = "grey85",
                 border = "white")
  graphics::lines(d$x, d$estimate, col = "#2166ac", lwd = 2)
  graphics::lines(d$x, d$null_density, col = "black", lty = 2)
  graphics::legend("topright", bty = "n", cex = 0.8,
                   legend = c(sprintf("histogram of %d pairs", as.integer(d$pairs)),
                              sprintf("kernel density (h = %.3g)", d$bandwidth),
                              "density without dependence", d$legend),
                   fill = c("grey85", NA, NA, rep(NA, length(d$legend))),
                   border = c("white", NA, NA, rep(NA, length(d$legend))),
                   lty = c(NA, 1, 2, rep(NA, length(d$legend))),
                   col = c(NA, "#2166ac", "black", rep(NA, length(d$legend))))
}
