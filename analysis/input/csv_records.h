// The records of a CSV file (RFC 4180; LF, CRLF or CR line ends), the
// numbers in its cells, and the whole text of a file: what every reader of
// the project's CSV files (the long-format panel, a proximity matrix)
// shares.
#ifndef QVDEP_ANALYSIS_INPUT_CSV_RECORDS_H
#define QVDEP_ANALYSIS_INPUT_CSV_RECORDS_H

#include <cstddef>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <emmintrin.h>  // SSE2, which every x86-64 processor has

#include "analysis/common/errors.h"
#include "analysis/input/mapped_file.h"

namespace qvd::analysis {

// Spreadsheets often start a UTF-8 file with a byte-order mark; it is not
// part of the first field.
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The field without the spaces and tabs around it.
inline std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// One record of the file: the line on which it starts and its fields, which
// stay valid until the next record is read.
struct Record {
  long line = 0;
  std::vector<std::string_view> fields;
};

// Splits the text into records. A quoted field may hold commas, line breaks
// and "" for a quote; a line break is LF, CRLF or a lone CR (as old
// spreadsheets on the Mac write it), so a CR never ends up in a field. A
// quote may open anywhere in a field. Fields without a quote are views of
// the text itself; a field with one is unescaped into the record's own
// buffer, so reading allocates nothing per field.
class RecordSplitter {
 public:
  RecordSplitter(std::string_view text, const std::string &source, long first_line = 1)
      : text_(text), source_(source), line_(first_line) {
    for (unsigned char c : std::string_view(",\"\r\n")) special_[c] = true;
  }

  std::size_t position() const { return pos_; }  // where the next record starts
  long line() const { return line_; }             // the line it starts on

  // The next record that is not blank; false at the end of the text.
  bool next(Record &record) {
    while (pos_ < text_.size() || !finished_) {
      if (pos_ >= text_.size()) finished_ = true;  // the text's last record
      if (split_one(record)) return true;
    }
    return false;
  }

 private:
  struct Span {
    std::size_t begin, size;
    bool own;  // in unescaped_ rather than the text
  };

  // Reads one record; false when it is blank (one empty, unquoted field).
  bool split_one(Record &record) {
    record.line = line_;
    spans_.clear();
    unescaped_.clear();
    bool quoted_any = false, more = true;
    while (more) {
      Span span{pos_, 0, false};
      std::size_t end = 0;  // where an unquoted field ends in the text
      for (;;) {
        const std::size_t run = pos_;
        pos_ = next_special(pos_);
        if (span.own) unescaped_.append(text_, run, pos_ - run);
        end = pos_;
        if (pos_ >= text_.size()) {
          more = false;
          break;
        }
        const char ch = text_[pos_++];
        if (ch == ',') break;
        if (ch == '\n' || ch == '\r') {
          if (ch == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
          ++line_;
          more = false;
          break;
        }
        // A quote: the field so far moves to the record's buffer.
        if (!span.own) {
          span = {unescaped_.size(), 0, true};
          unescaped_.append(text_, run, end - run);
        }
        quoted_any = true;
        read_quoted(record.line);
      }
      span.size = span.own ? unescaped_.size() - span.begin : end - span.begin;
      spans_.push_back(span);
    }
    if (spans_.size() == 1 && spans_[0].size == 0 && !quoted_any) return false;
    record.fields.clear();
    for (const Span &f : spans_)
      record.fields.push_back(f.own ? std::string_view(unescaped_).substr(f.begin, f.size)
                                    : text_.substr(f.begin, f.size));
    return true;
  }

  // The first comma, quote, CR or LF at or after `from` (the text's size if
  // none), sixteen bytes at a time.
  std::size_t next_special(std::size_t from) const {
    const char *p = text_.data();
    const std::size_t n = text_.size();
    const __m128i comma = _mm_set1_epi8(','), quote = _mm_set1_epi8('"');
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    for (; from + 16 <= n; from += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + from));
      const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, comma), _mm_cmpeq_epi8(v, quote)),
                                       _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
      if (mask != 0) return from + static_cast<std::size_t>(__builtin_ctz(mask));
    }
    while (from < n && !special_[static_cast<unsigned char>(p[from])]) ++from;
    return from;
  }

  // After an opening quote: up to and past the closing one, unescaping "".
  void read_quoted(long record_line) {
    for (;;) {
      const std::size_t stop = text_.find_first_of("\"\n", pos_);
      if (stop == std::string_view::npos)
        throw InputError(source_ + ":" + std::to_string(record_line) +
                         ": a quoted field is not closed before the end of the file");
      unescaped_.append(text_, pos_, stop - pos_);
      pos_ = stop + 1;
      if (text_[stop] == '\n') {
        ++line_;
        unescaped_ += '\n';
      } else if (pos_ < text_.size() && text_[pos_] == '"') {
        unescaped_ += '"';
        ++pos_;
      } else {
        return;
      }
    }
  }

  std::string_view text_;
  const std::string &source_;
  bool special_[256] = {};
  std::size_t pos_ = 0;
  long line_;
  bool finished_ = false;
  std::vector<Span> spans_;
  std::string unescaped_;
};


// A number of a numeric column, NaN for a missing one (empty, NA or .);
// nullopt when the text is not a finite number (`finite` tells which
// message fits: false when it was a number too large for a double).
std::optional<double> parse_value(std::string_view raw, bool &too_large);

// The whole input in memory, read in large blocks (a stream grows by
// doubling), not first cleared.
struct Text {
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
  std::string_view view() const { return {bytes.get(), size}; }
};
Text read_all(std::istream &in, const std::string &source);

// The bytes of a file, mapped where it can be, else read whole; standard
// input for "-" (named "<stdin>" in messages). Throws InputError when the
// file cannot be opened or read.
struct FileText {
  std::string source;  // the name for messages
  std::optional<MappedFile> mapped;
  Text read;
  std::string_view view() const { return mapped ? mapped->bytes() : read.view(); }
};
FileText file_text(const std::string &path);

}  // namespace qvd::analysis

#endif
