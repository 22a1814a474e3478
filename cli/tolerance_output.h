// The tolerance run as one document (cli/document.h): the statistics of
// every figure and the yields as rows, the sample counts in the summary.
#pragma once

#include "cli/document.h"
#include "tolerance/tolerance.h"

namespace kx::cli {

Document tolerance_document(const tol::Study& study, const tol::Summary& sum);

// The statistics' columns of a tolerance document: the row's kind (hidden in
// the table), figure, unit, nominal, mean, std, min, the percentiles, max.
void statistics_columns(Document& doc);

}  // namespace kx::cli
