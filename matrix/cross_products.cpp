#include "matrix/cross_products.h"
