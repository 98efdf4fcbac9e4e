// The contract metadata of every model (frame/model_info/<family>/<unit>.tsv), the generic
// points of the derivative check (tests/data/derivative_points/*.tsv), and the row counts, as the
// table-driven checks read them.
#ifndef FITMODELS_TESTS_MODEL_INFO_H
#define FITMODELS_TESTS_MODEL_INFO_H

#include <map>
#include <string>
#include <vector>

struct ModelInfo {
  std::string name;
  std::string where;     // file:line
  std::string shape;     // V, E, O0, O1, OM, P, T
  bool success_resets_errno = false;  // shape written with a trailing '!' 
  int reserved = 0;      // rc of request 1
  std::string neither;   // rc of request 0, or "*"
  std::string query;     // -, none, mask, nostore
  int least = -1;        // least nParams accepted; -1 when nParams is not read
  int fixed = 0;         // fixed count of parameters read (layout "N"); 0 for S+Mk
  int shared = 0, block = 0;  // layout "S+Mk"
  bool term_outputs = false;  // layout "...:y"
  std::string params, formula;

  bool has_derivatives() const { return shape == "V" || shape == "E"; }
  // The deriv slots a derivative request covers for nParams = n.
  int deriv_slots(int n) const {
    if (block == 0) return fixed;
    return shared + block * ((n - shared) / block);
  }
  int terms(int n) const { return block == 0 ? 0 : (n - shared) / block; }
};

struct GenericPoint {
  std::string model;
  std::string where;  // file:line
  double x[4] = {0.0, 0.0, 0.0, 0.0};
  std::vector<double> p;
};

// Every line of frame/model_info, keyed by model name.
const std::map<std::string, ModelInfo> &model_infos();
// Every derivative-check point, in file order.
const std::vector<GenericPoint> &generic_points();
// The first generic point of a model, or null.
const GenericPoint *first_point(const std::string &model);

// Parses "a,b,c" into doubles; "-" is the empty list.
std::vector<double> parse_list(const std::string &s);

// The names a host reaches the built models by: table names, and the export names of exports
// without a row (the lookups and the test hook excluded).
std::vector<std::string> registered_models();

#endif
