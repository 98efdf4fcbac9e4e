// The certified values of a NIST StRD problem (tests/data/nist/<problem>/certified.json: a flat
// JSON object of numbers and arrays of numbers), as the NIST tests read them.
#ifndef FITMODELS_TESTS_NIST_H
#define FITMODELS_TESTS_NIST_H

#include <string>
#include <vector>

struct Certified {
  std::vector<double> start1, start2, values, std_dev;
  double rss = 0;
  // The certified start named "start1" or "start2" (empty for another name).
  const std::vector<double> &start(const std::string &which) const;
};

// Reads dir/certified.json; false (and why) when it is missing or lacks a field.
bool read_certified(const std::string &dir, Certified &out, std::string &why);

// For a program fitting the problem in dir with model: false, after printing one line
// "SKIPPED: ...", when the model is not registered or the certified values cannot be read (the
// program then exits 77, CTest's skip).
bool load_problem(const std::string &dir, const std::string &model, Certified &out);

// The numbers after "key": in a flat JSON text (one number, or an array of numbers).
std::vector<double> json_numbers(const std::string &text, const std::string &key);

// Significant digits with which got agrees with want: -log10 of the relative error, at most 11.
double agreeing_digits(double got, double want);

#endif
