#include "frame/registry.h"

#include "frame/contract.h"
#include "model_decls.inc"

// function_table: the registered models in their fixed order; the lookups scan it front to
// back and the first match wins. Rows are generated from frame/functions.tsv.
extern "C" const FunctionEntry function_table[] = {
#include "registry_rows.inc"
};
const std::size_t function_table_size = sizeof function_table / sizeof function_table[0];

namespace fm {

bool same_name(const char *a, const char *b) {
  for (;; ++a, ++b) {
    unsigned char ca = static_cast<unsigned char>(*a);
    unsigned char cb = static_cast<unsigned char>(*b);
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
    if (ca != cb) return false;
    if (ca == '\0') return true;
  }
}

const FunctionEntry *find_row(const char *name) {
  if (name == nullptr) return nullptr;
  for (std::size_t i = 0; i < function_table_size; ++i) {
    if (same_name(function_table[i].name, name)) return &function_table[i];
  }
  return nullptr;
}

int32_t registry_param_count(const char *name) {
  const FunctionEntry *row = find_row(name);
  return row != nullptr ? row->nParams : 0;
}

}  // namespace fm

// Get_Func: the first row whose name matches, its counts written through the non-null
// out-pointers (nIndep, nDep, nParams, reserved). No match: null, nothing written.
extern "C" FITMODELS_API ModelFunction Get_Func(const char *name, int16_t *nIndep,
                                                int16_t *nDep, int16_t *nParams,
                                                int16_t *reserved) {
  const FunctionEntry *row = fm::find_row(name);
  if (row == nullptr) return nullptr;
  if (nIndep != nullptr) *nIndep = row->nIndep;
  if (nDep != nullptr) *nDep = row->nDep;
  if (nParams != nullptr) *nParams = row->nParams;
  if (reserved != nullptr) *reserved = row->reserved;
  return row->function;
}

// get_funx: the first matching row's function, or null.
extern "C" FITMODELS_API ModelFunction get_funx(const char *name) {
  const FunctionEntry *row = fm::find_row(name);
  return row != nullptr ? row->function : nullptr;
}

// get_funx_list: always null.
extern "C" FITMODELS_API void *get_funx_list(void) { return nullptr; }
