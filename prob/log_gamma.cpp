#include "prob/log_gamma.h"
