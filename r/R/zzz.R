# The module the package carries: libqvdep beside the package's own shared
# library in its libs/ folder, where R CMD INSTALL put both.
.state <- new.env(parent = emptyenv())

.onLoad <- function(libname, pkgname) {
  dll <- getLoadedDLLs()[[pkgname]][["path"]]
  .state$module <- file.path(dirname(dll), paste0("libqvdep", .Platform$dynlib.ext))
}
