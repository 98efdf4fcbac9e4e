// Models evaluated at the certified parameters of the NIST StRD problems that they express
// reproduce the certified residual sum of squares (tests/data/nist_models.tsv names the pairs).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/model_call.h"
#include "support/nist.h"

namespace {

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
    Certified cert;
    std::string why;
    ASSERT_TRUE(read_certified((root / problem).string(), cert, why)) << why;
    const std::vector<double> &b = cert.values;
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
    EXPECT_NEAR(sum, cert.rss, 1e-8 * cert.rss) << problem << " with " << model;
    ++checked;
  }
  RecordProperty("problems", checked);
}

}  // namespace
