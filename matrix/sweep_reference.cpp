#include "matrix/sweep.h"
