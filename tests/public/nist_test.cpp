// Models evaluated at the certified parameters of the NIST StRD problems that they express
// reproduce the certified residual sum of squares (tests/data/nist_models.tsv names the pairs).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/model_call.h"

namespace {

// The numbers of a JSON array or number after "key": in a flat certified-values file.
std::vector<double> json_numbers(const std::string &text, const std::string &key) {
  std::vector<double> out;
  auto at = text.find("\"" + key + "\"");
  if (at == std::string::npos) return out;
  at = text.find(':', at) + 1;
  const bool array = text.find_first_not_of(" \n\t", at) == text.find('[', at);
  const auto end = array ? text.find(']', at) : text.find_first_of(",}", at);
  std::string body = text.substr(at, end - at);
  for (auto &c : body)
    if (c == '[' || c == ',') c = ' ';
  std::istringstream ss(body);
  double v;
  while (ss >> v) out.push_back(v);
  return out;
}

TEST(Nist, CertifiedParametersReproduceTheCertifiedResidualSumOfSquares) {
  const std::filesystem::path root = FITMODELS_NIST_DATA;
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "no reference data at " << root;
  std::ifstream pairs(FITMODELS_NIST_MODELS);
  ASSERT_TRUE(pairs);
  std::string line;
  int checked = 0;
  while (std::getline(pairs, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ls(line);
    std::string problem, model;
    ls >> problem >> model;
    if (find_model(model) == nullptr) continue;  // the model's family is not built
    std::ifstream cert(root / problem / "certified.json");
    ASSERT_TRUE(cert) << problem;
    const std::string text((std::istreambuf_iterator<char>(cert)), {});
    const auto b = json_numbers(text, "certified_values");
    const auto rss = json_numbers(text, "residual_sum_of_squares");
    ASSERT_FALSE(b.empty() || rss.empty()) << problem;
    std::ifstream data(root / problem / "data.csv");
    std::string row;
    std::getline(data, row);  // header x,y
    double sum = 0.0;
    while (std::getline(data, row)) {
      double x, y;
      char comma;
      std::istringstream rs(row);
      if (!(rs >> x >> comma >> y)) continue;
      const Outcome r = Call(model).params(b).x(x).run(REQ_VALUE);
      ASSERT_EQ(r.rc, 0) << problem << " at x = " << x;
      sum += (y - r.y[1]) * (y - r.y[1]);
    }
    EXPECT_NEAR(sum, rss[0], 1e-8 * rss[0]) << problem << " with " << model;
    ++checked;
  }
  RecordProperty("problems", checked);
}

}  // namespace
