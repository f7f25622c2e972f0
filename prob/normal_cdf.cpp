#include "prob/normal_cdf.h"
