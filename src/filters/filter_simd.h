// The vector row kernels of the separable passes (filterbase_kernels.h), for code outside
// the filters folder that builds its own passes on them (utility's halving).
#pragma once

#include "filters/filterbase_kernels.h"
