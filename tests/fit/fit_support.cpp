#include "fit_support.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fittest {

std::vector<std::string> split(const std::string &s, char sep) {
  std::vector<std::string> out;
  std::string item;
  std::stringstream in(s);
  while (std::getline(in, item, sep)) out.push_back(item);
  if (!s.empty() && s.back() == sep) out.push_back("");
  return out;
}

std::vector<double> numbers(const std::string &s, double blank) {
  std::vector<double> out;
  if (s == "-") return out;
  for (const std::string &item : split(s, ','))
    out.push_back(item.empty() ? blank : std::strtod(item.c_str(), nullptr));
  return out;
}

Points read_csv(const std::string &path, int nIndep) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  Points p;
  p.nIndep = nIndep;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    if (line.empty() || line == "\r") continue;
    const std::vector<double> v = numbers(line, 0.0);
    for (int k = 0; k < nIndep; ++k) p.x.push_back(v.at(static_cast<size_t>(k)));
    p.y.push_back(v.at(static_cast<size_t>(nIndep)));
  }
  return p;
}

Points parse_points(const std::string &text) {
  if (!text.empty() && text[0] == '@')
    return read_csv(std::string(FITMODELS_TEST_NIST) + "/" + text.substr(1) + "/data.csv");
  Points p;
  if (text == "-") return p;
  for (const std::string &pt : split(text, ';')) {
    const std::vector<std::string> f = split(pt, ':');
    const std::vector<double> xs = numbers(f.at(0), 0.0);
    p.nIndep = static_cast<int>(xs.size());
    p.x.insert(p.x.end(), xs.begin(), xs.end());
    p.y.push_back(std::strtod(f.at(1).c_str(), nullptr));
    if (f.size() > 2) p.w.push_back(std::strtod(f[2].c_str(), nullptr));
  }
  return p;
}

}  // namespace fittest
