// function_table holds the built rows in the fixed table order, with their counts.
#include <gtest/gtest.h>

#include <cstring>

#include "frame/registry.h"
#include "support/row_list.h"

namespace {

TEST(RegistryTable, BuiltRowsInTableOrder) {
  std::vector<RowListEntry> expected;
  for (const auto &row : present_rows())
    if (row.row >= 0) expected.push_back(row);
  ASSERT_EQ(function_table_size, expected.size());
  int last_row = -1;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const FunctionEntry &e = function_table[i];
    EXPECT_STREQ(e.name, expected[i].name.c_str());
    EXPECT_EQ(e.nIndep, expected[i].nIndep) << e.name;
    EXPECT_EQ(e.nDep, expected[i].nDep) << e.name;
    EXPECT_EQ(e.nParams, expected[i].nParams) << e.name;
    EXPECT_EQ(e.reserved, 0) << e.name;
    EXPECT_NE(e.function, nullptr) << e.name;
    EXPECT_GT(expected[i].row, last_row) << e.name;
    last_row = expected[i].row;
  }
}

TEST(RegistryTable, ParamCountLookup) {
  EXPECT_EQ(fm::registry_param_count("LINE"), 2);
  EXPECT_EQ(fm::registry_param_count("PolyCtr5"), 7);
  EXPECT_EQ(fm::registry_param_count("Polynomial1"), 0);  // an export name, not a row
  EXPECT_EQ(fm::registry_param_count("nosuch"), 0);
}

TEST(RegistryTable, NameComparison) {
  EXPECT_TRUE(fm::same_name("Gauss", "gAUSS"));
  EXPECT_FALSE(fm::same_name("Gauss", "Gauss2"));
  EXPECT_FALSE(fm::same_name("Gauss2", "Gauss"));
  EXPECT_FALSE(fm::same_name("a[", "A{"));  // '[' and '{' are not letters
  EXPECT_TRUE(fm::same_name("", ""));
}

}  // namespace

namespace {

// The complete registry: all 276 rows, in order, each resolving to its function.
TEST(RegistryTable, HoldsEveryRowOfTheList) {
  std::vector<RowListEntry> rows;
  for (const auto &row : all_rows())
    if (row.row >= 0) rows.push_back(row);
  ASSERT_EQ(rows.size(), 276u);
  ASSERT_EQ(function_table_size, 276u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].row, static_cast<int>(i));
    EXPECT_STREQ(function_table[i].name, rows[i].name.c_str()) << "row " << i;
    EXPECT_EQ(function_table[i].reserved, 0) << "row " << i;
  }
  EXPECT_STREQ(function_table[0].name, "Shah");
  EXPECT_STREQ(function_table[275].name, "ModDiode");
}

}  // namespace
