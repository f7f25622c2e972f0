#include "matrix/packed_storage.h"
