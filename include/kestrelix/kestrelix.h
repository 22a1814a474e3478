// The whole kestrelix library in one include: the cross-section and its
// units, and the evaluator of edge-coupled microstrip couplers.
#pragma once

#include <kestrelix/coupled_line.h>
#include <kestrelix/section.h>
#include <kestrelix/units.h>
#include <kestrelix/validity.h>
