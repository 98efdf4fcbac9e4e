// What the fuzz target needs to know of every model: how to reach it, which requests it answers
// how, and how many slots of params, y and deriv a call with nParams = n may touch. Built from
// the model catalogue (include/fitmodels_catalog.h).
#ifndef FITMODELS_TESTS_FUZZ_MODEL_TABLE_H
#define FITMODELS_TESTS_FUZZ_MODEL_TABLE_H

#include <string>
#include <vector>

#include "fitmodels.h"

struct FuzzModel {
  std::string name;
  ModelFunction by_row = nullptr;     // through get_funx (null for an export without a row)
  ModelFunction by_export = nullptr;  // bound by its exported name (null when not exported)
  int nIndep = 1, nDep = 1, row_params = 0;
  char shape = 'V';             // V, E, O (value-only: O0, O1, OM), P
  bool success_resets_errno = false;
  int reserved = 1;             // return code of REQ_RESERVED
  int neither = 0;              // return code of a request of neither bit; -1: computes first
  bool answers_query = false;   // bit 3 answered (QUERY_REPLY_NONE or QUERY_REPLY_MASK)
  int least = -1;               // least nParams accepted; -1: nParams not read
  int fixed = 0;                // fixed layout count; 0 for S+Mk
  int shared = 0, per_term = 0; // layout S+Mk
  bool term_outputs = false;    // term j writes y[2 + j]
  bool defined_missing_value = false;  // a success may carry MISSING_VALUE in y[1]
  std::vector<double> point_p;  // a generic point: params p1.., x1..x3
  double point_x[4] = {0, 0, 0, 0};

  // Parameters the model reads for nParams = n (n at least `least`).
  int params_read(int n) const;
  // Derivative slots a derivative request covers for nParams = n.
  int deriv_slots(int n) const;
  // Terms for nParams = n (0 for a fixed layout).
  int terms(int n) const;
};

// Every model a host reaches (registry rows and exports without a row), the test hook excluded.
const std::vector<FuzzModel> &fuzz_models();

#endif
