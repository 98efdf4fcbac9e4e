// The catalogue (include/fitmodels_catalog.h) as the table-driven checks read it.
#ifndef FITMODELS_TESTS_CATALOG_VIEW_H
#define FITMODELS_TESTS_CATALOG_VIEW_H

#include <string>
#include <vector>

#include "fitmodels_catalog.h"

// The parameters of a generic point, 0-based, as Call::params takes them.
std::vector<double> point_params(const fm_point &pt);

// Whole terms in nParams = n (0 for a fixed layout), and the deriv slots a derivative request
// covers for nParams = n (a partial last term ignored).
int term_count(const fm_model_info &m, int n);
int deriv_slots(const fm_model_info &m, int n);

// The names a host reaches the built models by: table names, and the export names of exports
// without a row (the lookups and the test hook excluded).
std::vector<std::string> registered_models();

#endif
