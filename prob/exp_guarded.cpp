#include "prob/exp_guarded.h"
