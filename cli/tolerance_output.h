// The tolerance run as one document (cli/document.h): the statistics of
// every figure and the yields as rows, the sample counts in the summary.
#pragma once

#include "cli/document.h"
#include "tolerance/tolerance.h"

namespace kx::cli {

Document tolerance_document(const tol::Study& study, const tol::Summary& sum);

}  // namespace kx::cli
