// The lookups as a host uses them: every built row is found under its name with its counts,
// rows not built are not, and unknown names write nothing.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>

#include "support/model_call.h"
#include "support/row_list.h"

extern "C" int c_host_evaluates_line(void);

namespace {

TEST(Lookup, HostWrittenInC) { EXPECT_TRUE(c_host_evaluates_line()); }

constexpr int16_t kPoison = -12345;

std::string flip_case(std::string s) {
  for (auto &c : s)
    c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c)
                                                                       : std::toupper(c));
  return s;
}

TEST(Lookup, LineByLowerCaseName) {
  int16_t a = kPoison, b = kPoison, c = kPoison, d = kPoison;
  ModelFunction f = Get_Func("line", &a, &b, &c, &d);
  EXPECT_EQ(f, reinterpret_cast<ModelFunction>(&Polynomial1));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(c, 2);
  EXPECT_EQ(d, 0);
}

TEST(Lookup, TableNamesNotExportNames) {
  int16_t a = kPoison, b = kPoison, c = kPoison, d = kPoison;
  EXPECT_EQ(Get_Func("gauss", &a, &b, &c, &d), reinterpret_cast<ModelFunction>(&Gauss));
  EXPECT_TRUE(a == 1 && b == 1 && c == 4 && d == 0);
  // Response1 is exported as Boltzman2: only the table name is looked up.
  EXPECT_EQ(get_funx("Boltzman2"), nullptr);
  EXPECT_EQ(get_funx("Response1"), reinterpret_cast<ModelFunction>(&Boltzman2));
  EXPECT_EQ(get_funx("PolyN"), reinterpret_cast<ModelFunction>(&Poly));
  // Boltzman1 has no row at all; it is reachable through its export only.
  EXPECT_EQ(get_funx("Boltzman1"), nullptr);
}

TEST(Lookup, UnknownNameReturnsNullAndWritesNothing) {
  for (const char *name : {"NoSuchModel", "", "Lin", "Linee", "Line ", "Boltzman1", "Poly"}) {
    int16_t a = kPoison, b = kPoison, c = kPoison, d = kPoison;
    EXPECT_EQ(Get_Func(name, &a, &b, &c, &d), nullptr) << name;
    EXPECT_EQ(get_funx(name), nullptr) << name;
    EXPECT_EQ(a, kPoison);
    EXPECT_EQ(b, kPoison);
    EXPECT_EQ(c, kPoison);
    EXPECT_EQ(d, kPoison);
  }
}

TEST(Lookup, NullOutPointersAndNullNameAreSafe) {
  EXPECT_NE(Get_Func("Constant", nullptr, nullptr, nullptr, nullptr), nullptr);
  int16_t c = kPoison;
  EXPECT_NE(Get_Func("PWL3", nullptr, nullptr, &c, nullptr), nullptr);
  EXPECT_EQ(c, 6);
  EXPECT_EQ(Get_Func(nullptr, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(get_funx(nullptr), nullptr);
}

TEST(Lookup, ListIsNull) { EXPECT_EQ(get_funx_list(), nullptr); }

TEST(Lookup, NonAsciiBytesAreNotFoldedAsLetters) {
  // Only ASCII letters compare without regard to case; 0xC9 is not 'I' in any case.
  EXPECT_EQ(get_funx("L\xC9NE"), nullptr);
}

TEST(Lookup, EveryBuiltRowIsFoundWithItsCountsInAnyCase) {
  std::set<std::string> present;
  for (const auto &row : present_rows()) {
    if (row.row < 0) continue;
    present.insert(row.name);
    for (const std::string &name : {row.name, flip_case(row.name)}) {
      int16_t a = kPoison, b = kPoison, c = kPoison, d = kPoison;
      ModelFunction f = Get_Func(name.c_str(), &a, &b, &c, &d);
      ASSERT_NE(f, nullptr) << name;
      EXPECT_EQ(f, get_funx(name.c_str())) << name;
      EXPECT_EQ(a, row.nIndep) << name;
      EXPECT_EQ(b, row.nDep) << name;
      EXPECT_EQ(c, row.nParams) << name;
      EXPECT_EQ(d, 0) << name;
    }
  }
  for (const auto &row : all_rows()) {
    if (row.row >= 0 && !present.count(row.name)) {
      EXPECT_EQ(get_funx(row.name.c_str()), nullptr) << row.name << " is not built yet";
    }
  }
}

TEST(Lookup, RowsShareAFunctionOnlyWhereTheyShareASymbol) {
  std::map<ModelFunction, std::string> seen;
  for (const auto &row : present_rows()) {
    if (row.row < 0) continue;
    ModelFunction f = get_funx(row.name.c_str());
    auto [it, fresh] = seen.emplace(f, row.symbol);
    EXPECT_TRUE(fresh || it->second == row.symbol)
        << row.name << " shares its function with a row of symbol " << it->second;
  }
}

TEST(Lookup, ExportedRowsResolveToTheirExportedFunction) {
  void *self = dlopen(FITMODELS_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(self, nullptr);
  for (const auto &row : present_rows()) {
    if (row.row < 0 || row.exportName.empty()) continue;
    void *sym = dlsym(self, row.exportName.c_str());
    EXPECT_EQ(reinterpret_cast<void *>(get_funx(row.name.c_str())), sym)
        << row.name << " should be the function exported as " << row.exportName;
  }
  dlclose(self);
}

}  // namespace
