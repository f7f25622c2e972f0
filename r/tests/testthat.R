library(testthat)
library(qvdep)

test_check("qvdep")
