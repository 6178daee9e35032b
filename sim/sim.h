// The simulated board, as tests and benchmarks use it.
#pragma once

#include "sim/bench.h"
#include "sim/time.h"
#include "sim/timeline.h"
