// The shared libraries' dynamic symbol tables hold exactly their export lists, each in its
// version node; the module-definition file carries the ordinals.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "support/row_list.h"

namespace {

// The defined dynamic symbols of a shared library, each with its version node, and the version
// nodes it defines.
struct DynamicSymbols {
  std::map<std::string, std::string> versions;
  std::set<std::string> nodes;
};

DynamicSymbols defined_dynamic_symbols(const char *library) {
  DynamicSymbols symbols;
  const std::string cmd = std::string(FITMODELS_NM) + " -D --defined-only '" + library + "'";
  FILE *p = popen(cmd.c_str(), "r");
  if (p == nullptr) return symbols;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    std::istringstream ss(line);
    std::string addr, type, name;
    if (!(ss >> addr >> type >> name)) continue;
    if (type == "A") {  // a version node's own entry
      symbols.nodes.insert(name);
      continue;
    }
    const auto at = name.find('@');
    const auto version = name.find_first_not_of('@', at);
    symbols.versions[name.substr(0, at)] =
        at == std::string::npos ? std::string() : name.substr(version);
  }
  pclose(p);
  return symbols;
}

// The library's own export list, all in one version node, and nothing else.
void expect_exports(const char *library, const std::set<std::string> &expected,
                    const std::string &node) {
  const DynamicSymbols symbols = defined_dynamic_symbols(library);
  ASSERT_FALSE(symbols.versions.empty()) << "could not read the dynamic symbol table of "
                                         << library;
  for (const auto &name : expected)
    EXPECT_TRUE(symbols.versions.count(name)) << name << " not exported";
  for (const auto &[name, version] : symbols.versions) {
    EXPECT_TRUE(expected.count(name)) << name << " exported";
    EXPECT_EQ(version, node) << name;
  }
  EXPECT_EQ(symbols.nodes, std::set<std::string>{node});
}

TEST(Exports, ExactlyTheExportListIsVisible) {
  std::set<std::string> expected;
  for (const auto &row : present_rows())
    if (!row.exportName.empty()) expected.insert(row.exportName);
  expect_exports(FITMODELS_LIBRARY, expected, "FITMODELS_1");
}

// The host math library exports its C routines and none of the C++ it is written with.
TEST(Exports, HostMathExportsOnlyItsRoutines) {
  expect_exports(FITMODELS_HOSTMATH_LIBRARY,
                 {"normcdf", "gamcdf", "wblcdf", "wblpdf", "velmath_log_gamma",
                  "velmath_PearsonIV", "s15aec"},
                 "FITMODELS_HOSTMATH_1");
}

TEST(Exports, ModuleDefinitionCarriesTheOrdinals) {
  std::ifstream in(FITMODELS_MODULE_DEFINITION);
  ASSERT_TRUE(in) << "no module-definition file";
  std::map<std::string, int> listed;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ss(line);
    std::string name, ordinal;
    if (ss >> name >> ordinal && ordinal.size() > 1 && ordinal[0] == '@')
      listed[name] = std::stoi(ordinal.substr(1));
  }
  std::map<std::string, int> expected;
  for (const auto &row : present_rows())
    if (!row.exportName.empty()) expected[row.exportName] = row.ordinal;
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(listed.at("Get_Func"), 50);
  EXPECT_EQ(listed.at("Polynomial1"), 307);
}

TEST(Exports, OrdinalsAreUniqueAndNamesDistinct) {
  std::set<int> ordinals;
  std::set<std::string> names;
  for (const auto &row : all_rows()) {
    if (row.exportName.empty()) continue;
    EXPECT_TRUE(ordinals.insert(row.ordinal).second) << "ordinal " << row.ordinal;
    EXPECT_TRUE(names.insert(row.exportName).second) << row.exportName;
  }
  EXPECT_EQ(names.size(), 199u);  // 195 models, three lookups and the test hook
}

TEST(Exports, RowListHasEveryRowInOrder) {
  int expected = 0;
  for (const auto &row : all_rows()) {
    if (row.row < 0) continue;
    EXPECT_EQ(row.row, expected++);
  }
  EXPECT_EQ(expected, 276);
}

}  // namespace

namespace {

// Every export of the list is built: the 195 models, the three lookups, the test hook.
TEST(Exports, TheCompleteExportListIsBuilt) {
  std::set<std::string> present;
  for (const auto &row : present_rows())
    if (!row.exportName.empty()) present.insert(row.exportName);
  EXPECT_EQ(present.size(), 199u);
  for (const char *name : {"Get_Func", "get_funx", "get_funx_list", "FuncTest", "Boltzman1",
                           "errtest"})
    EXPECT_TRUE(present.count(name)) << name;
}

}  // namespace
