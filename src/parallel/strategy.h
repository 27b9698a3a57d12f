// Everything a strategy class is written with: the parallel factory it reads,
// the request records, the partition and work slices, the regions and teams,
// the sub-plan sets and the description pieces.
#pragma once

#include "factory/fft_omp_factory.h"
#include "parallel/calls.h"
#include "parallel/columns.h"
#include "parallel/describe.h"
#include "parallel/partition.h"
#include "parallel/records.h"
#include "parallel/regions.h"
#include "parallel/rows.h"
#include "parallel/subplans.h"
#include "parallel/teams.h"
