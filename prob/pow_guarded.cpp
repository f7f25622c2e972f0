#include "prob/pow_guarded.h"
