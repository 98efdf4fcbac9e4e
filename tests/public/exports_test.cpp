// The shared library's dynamic symbol table holds exactly the export list of the built units.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "support/row_list.h"

namespace {

std::set<std::string> defined_dynamic_symbols() {
  std::set<std::string> names;
  const std::string cmd = std::string(FITMODELS_NM) + " -D --defined-only '" FITMODELS_LIBRARY "'";
  FILE *p = popen(cmd.c_str(), "r");
  if (p == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    std::istringstream ss(line);
    std::string addr, type, name;
    if (ss >> addr >> type >> name) {
      const auto at = name.find('@');  // strip a version suffix
      names.insert(name.substr(0, at));
    }
  }
  pclose(p);
  return names;
}

TEST(Exports, ExactlyTheExportListIsVisible) {
  std::set<std::string> expected;
  for (const auto &row : present_rows())
    if (!row.exportName.empty()) expected.insert(row.exportName);
  const std::set<std::string> actual = defined_dynamic_symbols();
  ASSERT_FALSE(actual.empty()) << "could not read the dynamic symbol table";
  for (const auto &name : expected) EXPECT_TRUE(actual.count(name)) << name << " not exported";
  for (const auto &name : actual) EXPECT_TRUE(expected.count(name)) << name << " exported";
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
