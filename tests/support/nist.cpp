#include "support/nist.h"

#include "fitmodels.h"

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

std::vector<double> json_numbers(const std::string &text, const std::string &key) {
  std::vector<double> out;
  size_t at = text.find("\"" + key + "\"");
  if (at == std::string::npos) return out;
  at = text.find(':', at) + 1;
  const bool list = text.find_first_not_of(" \n\r\t", at) == text.find('[', at);
  const size_t end = list ? text.find(']', at) : text.find_first_of(",}", at);
  std::stringstream s(text.substr(at, end - at));
  std::string item;
  while (std::getline(s, item, ',')) {
    const size_t b = item.find_first_of("-0123456789.");
    if (b != std::string::npos) out.push_back(std::strtod(item.c_str() + b, nullptr));
  }
  return out;
}

const std::vector<double> &Certified::start(const std::string &which) const {
  static const std::vector<double> none;
  return which == "start1" ? start1 : which == "start2" ? start2 : none;
}

bool read_certified(const std::string &dir, Certified &out, std::string &why) {
  const std::string path = dir + "/certified.json";
  std::ifstream in(path);
  if (!in) {
    why = "no reference data at " + path;
    return false;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string text = ss.str();
  out.start1 = json_numbers(text, "start1");
  out.start2 = json_numbers(text, "start2");
  out.values = json_numbers(text, "certified_values");
  out.std_dev = json_numbers(text, "certified_std_dev");
  const std::vector<double> rss = json_numbers(text, "residual_sum_of_squares");
  const size_t n = out.values.size();
  if (n == 0 || out.start1.size() != n || out.start2.size() != n || out.std_dev.size() != n ||
      rss.size() != 1) {
    why = "cannot read " + path;
    return false;
  }
  out.rss = rss[0];
  return true;
}

bool load_problem(const std::string &dir, const std::string &model, Certified &out) {
  if (Get_Func(model.c_str(), nullptr, nullptr, nullptr, nullptr) == nullptr) {
    std::printf("SKIPPED: model %s is not registered\n", model.c_str());
    return false;
  }
  std::string why;
  if (!read_certified(dir, out, why)) {
    std::printf("SKIPPED: %s\n", why.c_str());
    return false;
  }
  return true;
}

double agreeing_digits(double got, double want) {
  const double rel = std::fabs(got - want) / std::fabs(want);
  return rel == 0 ? 11.0 : std::min(11.0, -std::log10(rel));
}
