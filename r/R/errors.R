# Errors of the package: conditions of class "qvdep_error" (and "error"),
# with the library's message where the library refused the input. The kind
# of refusal is a subclass:
#   qvdep_input_error           the data, the formula or an option cannot be used
#   qvdep_module_error          the module could not be loaded or refused the request
#   qvdep_floating_point_error  the module raised a floating-point fault
#   qvdep_memory_error          not enough memory
qvdep_stop <- function(message, class = "qvdep_input_error", call = NULL) {
  stop(errorCondition(message, class = unique(c(class, "qvdep_error")), call = call))
}
