// The library's row list (frame/functions.tsv) as the tests read it.
#ifndef FITMODELS_TESTS_ROW_LIST_H
#define FITMODELS_TESTS_ROW_LIST_H

#include <string>
#include <vector>

struct RowListEntry {
  int row = -1;  // -1: an export without a registry row
  std::string name;
  int nIndep = 0, nDep = 0, nParams = 0;
  std::string exportName;  // empty when not exported
  int ordinal = 0;
  std::string symbol;
  std::string unit;
};

// Reads a row list file; an unreadable file fails the calling test.
std::vector<RowListEntry> read_row_list(const std::string &path);

// The full list, and the entries whose source units are built.
const std::vector<RowListEntry> &all_rows();
const std::vector<RowListEntry> &present_rows();

#endif
