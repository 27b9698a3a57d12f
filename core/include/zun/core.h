// Everything of the core library.
#pragma once

#include <zun/config.h>
#include <zun/fft/interfaces.h>
#include <zun/fft/planner.h>
