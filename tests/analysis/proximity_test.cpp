// Proximity matrices in every form: each form of the same neighbours reads
// as the same set, and every matrix plm refuses (and the places a file can
// go wrong) is an InputError that names the place.
#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/common/errors.h"
#include "analysis/input/proximity.h"

namespace qvd::analysis {
namespace {

const std::vector<std::string> kIds = {"A", "B", "C"};

// A and B, B and C.
Neighbours chain() {
  Neighbours expected(3);
  expected.add(0, 1);
  expected.add(1, 2);
  return expected;
}

TEST(Proximity, EveryFormOfTheSameNeighboursReadsAlike) {
  const char *files[] = {
      ",A,B,C\nA,0,0,0\nB,1,0,0\nC,0,1,0\n",           // the lower triangle alone
      "id,A,B,C\r\nA,1,2.5,0\r\nB,2.5,1,-1\r\nC,0,-1,1",  // symmetric weights, a diagonal
      ",A,B,C\nC,0,1,0\nA,0,1,0\nB,1,0,1\n",            // rows in another order
      ",B,C,A\nB,0,0,0\nC,1,0,0\nA,1,0,0\n",            // columns too: C-B, A-B below
      "\xEF\xBB\xBF\"a, b\",x\n\"B\",A\nB,C\nC,B\nA,A\n",  // an edge list: quoted, twice, self
  };
  for (const char *text : files)
    EXPECT_TRUE(parse_proximity_csv(text, "w.csv", kIds) == chain()) << text;
  const double panel_order[] = {0, 1, 0, 1, 0, 1, 0, 1, 0};
  EXPECT_TRUE(proximity_matrix(panel_order, 3, 3, kIds, "w") == chain());
  const double labelled[] = {0, 1, 1, 1, 0, 0, 1, 0, 0};  // rows and columns B, A, C
  EXPECT_TRUE(proximity_matrix({"B", "A", "C"}, {"B", "A", "C"}, labelled, kIds, "w") == chain());
  EXPECT_TRUE(neighbour_pairs({{"A", "B"}, {"C", "B"}}, kIds, "w") == chain());
  EXPECT_EQ(chain().pairs(), 2u);
  EXPECT_TRUE(Neighbours::band(3, 1) == chain());
}

TEST(Proximity, RefusesWhatPlmRefusesAndNamesThePlace) {
  struct Case {
    std::function<void()> read;
    const char *message;
  };
  auto file = [](const char *text) { return [text] { parse_proximity_csv(text, "w.csv", kIds); }; };
  static const double two_by_three[6] = {};
  static const double missing_cell[9] = {0, 1, 0, std::nan(""), 0, 1, 0, 1, 0};
  const Case cases[] = {
      // plm: wrong dimensions, ambiguous triangles, no neighbours
      {file(",A,B\nA,0,1\nB,1,0\n"),
       "w.csv:1: the header names 2 columns of cross-sections; the panel has 3"},
      {file(",A,B,C\nA,0,1,1\nB,1,0,0\nC,0,0,0\n"),
       "w.csv:4:2: zero below the diagonal, but not zero above it at line 2, column 4"},
      {file(",A,B,C\nA,0,1,1\nB,0,0,1\nC,0,0,0\n"),
       "w.csv: no pair of cross-sections is neighbours below the diagonal"},
      {file(",A,B,C\nA,0,0,0\nB,0,0,0\nC,0,0,0\n"),
       "w.csv: no pair of cross-sections is neighbours below the diagonal"},
      // the places a matrix file can go wrong
      {file(",A,B,X\n"), "w.csv:1:4: \"X\" is not a cross-section of the panel"},
      {file(",A,B,A\n"), "w.csv:1:4: \"A\" names a second column"},
      {file(",A,B,C\nA,0,1,0\n\"X\ty\",1,0,1\n"),
       "w.csv:3:1: \"X\\ty\" is not a cross-section of the panel"},
      {file(",A,B,C\nA,0,1,0\nA,1,0,1\n"), "w.csv:3:1: a second row for cross-section \"A\""},
      {file(",A,B,C\nA,0,1,0\nB,1,0,1\n"),
       "w.csv: no row for cross-section \"C\" (a proximity matrix is 3 x 3)"},
      {file(",A,B,C\nA,0,1\n"), "w.csv:2: 3 fields where the header has 4"},
      {file(",A,B,C\nA,0,NA,0\n"), "w.csv:2:3: a missing cell (a proximity matrix has none)"},
      {file(",A,B,C\nA,0,yes,0\n"), "w.csv:2:3: not a number: \"yes\""},
      {file(",A,B,C\nA,0,1e999,0\n"), "w.csv:2:3: not a finite number"},
      {file("A\nB\n"), "w.csv:1: one column"},
      {file(""), "w.csv: the file is empty"},
      // an edge list's
      {file("a,b\nA,B\nC,Z\n"), "w.csv:3:2: \"Z\" is not a cross-section of the panel"},
      {file("a,b\n,B\n"), "w.csv:2:1: empty"},
      {file("a,b\nA,B,C\n"), "w.csv:2: 3 fields where an edge list has 2"},
      {file("A,B\nB,C\n"), "w.csv:1: the first line names two cross-sections, \"A\" and \"B\""},
      {file("a,b\nA,A\n"), "w.csv: no pair of neighbours"},
      // in memory
      {[] { proximity_matrix(two_by_three, 2, 3, kIds, "w"); },
       "w: the proximity matrix is 2 x 3; the panel has 3 cross-sections, so it must be 3 x 3"},
      {[] { proximity_matrix(missing_cell, 3, 3, kIds, "w"); },
       "w: row \"B\", column \"A\": a missing cell"},
      {[] { neighbour_pairs({{"A", "B"}, {"B", "Z"}}, kIds, "w"); },
       "w: pair 2, its second cross-section: \"Z\" is not a cross-section of the panel"},
  };
  for (const Case &c : cases) {
    try {
      c.read();
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const InputError &e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << e.what() << "\n  expected: " << c.message;
    }
  }
}

}  // namespace
}  // namespace qvd::analysis
