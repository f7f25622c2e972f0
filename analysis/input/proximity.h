// A proximity matrix, as R's plm takes its w in pcdtest: which pairs of
// cross-sections are neighbours for the local LM, scaled LM and CD.
//
// A cell that is not zero makes its row's and its column's cross-sections
// neighbours; its value is not used (plm: as.logical(w)), and the diagonal
// is ignored. The lower triangle suffices (the cells below the diagonal,
// with the rows and the columns both in the order of the columns); when
// the upper triangle names any pair too, the two must name the same pairs.
// plm's cases are refused, each as an InputError naming its place:
//
//   a matrix that is not N x N (N the panel's cross-sections);
//   an upper triangle that names neighbours the lower does not, or not
//     those it does ("ambiguous" in plm);
//   no neighbours at all below the diagonal;
//
// and, where plm has no message of its own: an id that is not one of the
// panel's cross-sections, one named twice as a row or as a column, a row
// missing, and a cell that is not a finite number (plm stops on NA with
// "missing value where TRUE/FALSE needed", and takes Inf as a neighbour).
//
// The forms:
//
//   a CSV file (RFC 4180 quoting; LF, CRLF or CR line ends), either an
//   N x N matrix whose header row names the cross-sections of its columns
//   after one cell of any text, each row starting with the cross-section
//   of that row:
//
//       ,A,B,C
//       A,0,1,0
//       B,1,0,1
//       C,0,1,0
//
//   or an edge list: a header row of two column names, then one pair of
//   cross-sections a line (either order; a pair named twice, or a
//   cross-section paired with itself, changes nothing):
//
//       region,neighbour
//       A,B
//       C,B
//
//   A file of two columns is an edge list; one of more, a matrix.
//
//   in memory (for a binding): an N x N matrix in panel order, one with its
//   rows and columns named by cross-section (a data frame's), or a list of
//   pairs of cross-sections.
//
// Cross-sections are named by their labels (LongPanel::id_labels), matched
// as text once the spaces around a field in a file are trimmed. A matrix is
// read row by row into one bit a pair for each triangle: no N x N matrix
// of values is ever formed from a file.
#ifndef QVDEP_ANALYSIS_INPUT_PROXIMITY_H
#define QVDEP_ANALYSIS_INPUT_PROXIMITY_H

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/input/neighbours.h"

namespace qvd::analysis {

// The file at `path` ("-": standard input), against the panel's
// cross-sections `ids`. Messages say "FILE:LINE:COLUMN: ...".
Neighbours read_proximity_file(const std::string &path, const std::vector<std::string> &ids);

// The same from a file's text, named `source` in messages.
Neighbours parse_proximity_csv(std::string_view text, const std::string &source,
                               const std::vector<std::string> &ids);

// A rows x columns matrix in panel order, row after row (cell (i, j) at
// cells[i * columns + j]). Messages start with `source` and name a cell by
// its row's and its column's cross-sections.
Neighbours proximity_matrix(const double *cells, std::size_t rows, std::size_t columns,
                            const std::vector<std::string> &ids, const std::string &source);

// A matrix whose rows and columns are named: row r is cross-section
// row_ids[r], column c column_ids[c] (each of the panel's once, in any
// order), cell (r, c) at cells[r * column_ids.size() + c].
Neighbours proximity_matrix(const std::vector<std::string> &row_ids,
                            const std::vector<std::string> &column_ids, const double *cells,
                            const std::vector<std::string> &ids, const std::string &source);

// Pairs of cross-sections, each a pair of neighbours. Messages name a pair
// by its place in the list, counted from 1.
Neighbours neighbour_pairs(const std::vector<std::pair<std::string, std::string>> &pairs,
                           const std::vector<std::string> &ids, const std::string &source);

}  // namespace qvd::analysis

#endif
