// The whole kestrelix library in one include: the cross-section and its
// units, the evaluator of edge-coupled microstrip couplers (closed forms,
// kestrelix::models) and the field solver (kestrelix::field).
#pragma once

#include <kestrelix/coupled_line.h>
#include <kestrelix/field.h>
#include <kestrelix/section.h>
#include <kestrelix/units.h>
#include <kestrelix/validity.h>
