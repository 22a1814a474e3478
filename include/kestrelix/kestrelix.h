// The whole kestrelix library in one include: the cross-section and its
// units, the evaluator of edge-coupled microstrip couplers (closed forms,
// kestrelix::models), the field solver (kestrelix::field) and the studies
// on them (kestrelix::studies): the differential pair, the closed forms
// against the field model and the lines of a board cross-section on the
// general solver.
#pragma once

#include <kestrelix/check.h>
#include <kestrelix/coupled_line.h>
#include <kestrelix/diff_pair.h>
#include <kestrelix/field.h>
#include <kestrelix/section.h>
#include <kestrelix/single_line.h>
#include <kestrelix/stop.h>
#include <kestrelix/structure.h>
#include <kestrelix/study.h>
#include <kestrelix/units.h>
#include <kestrelix/validity.h>
