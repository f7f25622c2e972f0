#include "prob/noncentral_chi2.h"
