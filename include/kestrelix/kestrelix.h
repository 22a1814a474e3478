// The whole kestrelix library in one include: the cross-section and its
// units, the evaluator of edge-coupled microstrip couplers (closed forms,
// kestrelix::models), the field solver (kestrelix::field) and the studies
// on them (kestrelix::studies): the differential pair and the closed forms
// against the field model.
#pragma once

#include <kestrelix/check.h>
#include <kestrelix/coupled_line.h>
#include <kestrelix/diff_pair.h>
#include <kestrelix/field.h>
#include <kestrelix/section.h>
#include <kestrelix/stop.h>
#include <kestrelix/study.h>
#include <kestrelix/units.h>
#include <kestrelix/validity.h>
