// The registry of models: the constant table the lookups scan.
#ifndef FITMODELS_FRAME_REGISTRY_H
#define FITMODELS_FRAME_REGISTRY_H

#include <cstddef>
#include <cstdint>

#include "fitmodels.h"

extern "C" const FunctionEntry function_table[];
extern const std::size_t function_table_size;

namespace fm {

// Whole-string comparison without regard to ASCII letter case, independent of the locale.
bool same_name(const char *a, const char *b);

// The first row whose name matches, or null.
const FunctionEntry *find_row(const char *name);

// The row's nParams, or 0 when no row matches.
int32_t registry_param_count(const char *name);

}  // namespace fm

#endif
