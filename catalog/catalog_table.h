// The generated catalogue table (catalog_table.cpp in the build), in registry order with the
// exports without a row at the end.
#ifndef FITMODELS_CATALOG_TABLE_H
#define FITMODELS_CATALOG_TABLE_H

#include "fitmodels_catalog.h"

extern const fm_model_info fm_catalog_table[];
extern const size_t fm_catalog_table_size;

#endif
