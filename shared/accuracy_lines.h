// The lines of the accuracy-violation report with which a run ends when the
// models leave their limits: the heading with the run's name, then one
// numbered line per limit the failing point crosses. The dialogue's driver
// and the scripted commands both print them from here.
#pragma once

#include <functional>
#include <initializer_list>
#include <string_view>

#include <kestrelix/section.h>

#include "common/ftn_format.h"

namespace kx {

// One rendered line: a template and its values.
using LinePut = std::function<void(std::string_view tmpl, std::initializer_list<FtnArg> args)>;

// Writes the heading and the reasons of a point at f GHz with validity flag
// iflag. `co` (dB, negative) and `zo` (ohms) are the coupling and impedance
// of a synthesis row, tested only when given. Returns the number of reasons.
int accuracy_lines(std::string_view run_name, const Section& sec, float f, int iflag,
                   const float* co, const float* zo, const LinePut& put);

}  // namespace kx
