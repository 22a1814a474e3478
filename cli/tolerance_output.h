// The tolerance summary for people (an aligned table), as one CSV (a "kind"
// column tells figure, yield and invalid rows apart) or as JSON.
#pragma once

#include <iosfwd>

#include "tolerance/tolerance.h"

namespace kx::tol {

void write_table(std::ostream& os, const Study& study, const Summary& sum);
void write_csv(std::ostream& os, const Study& study, const Summary& sum);
void write_json(std::ostream& os, const Study& study, const Summary& sum);

}  // namespace kx::tol
