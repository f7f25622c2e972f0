#include "prob/incomplete_gamma.h"
