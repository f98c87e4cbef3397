// Comma-separated values as spreadsheets write them: fields separated by
// commas, a field in double quotes may hold commas, line breaks and doubled
// quotes, records end with LF or CRLF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::cli {

struct CsvRecord {
    std::size_t line = 0;  // where the record starts, from 1
    std::vector<std::string> fields;  // at most the reader's limit of them
    std::size_t cells = 0;            // fields the record has, kept or not
    std::string error;  // non-empty for a malformed record; fields then hold what could be read
};

// Records taken from a stream together, in input order: runs of whole lines
// without quotes as they were read (each line a record, blank ones
// included), and records read one field at a time where quotes make that
// necessary.
struct CsvChunk {
    struct Piece {
        bool lines = false;      // a run of lines in `text`, else records[record]
        std::size_t begin = 0;   // the run's bytes in text
        std::size_t end = 0;
        std::size_t line = 0;    // the run's first line
        std::size_t record = 0;
    };
    std::string text;
    std::vector<Piece> pieces;
    std::vector<CsvRecord> records;
    std::size_t rows = 0;      // lines and records taken
    std::uint64_t bytes = 0;   // input bytes taken
    bool final = false;        // the chunk reaches the end of the input

    void Clear() {
        text.clear();
        pieces.clear();
        records.clear();
        rows = 0;
        bytes = 0;
        final = false;
    }
};

// The fields of one line of a run (without its line break: LF, CRLF, or a CR
// ending the input) as ParseCsv reads them: split at commas, at most `limit`
// kept in `fields`; returns how many the line has.
std::size_t SplitLine(std::string_view line, std::size_t limit, std::vector<std::string_view>& fields);

// Splits `text` into records, skipping blank lines and a leading UTF-8
// byte-order mark. A malformed record is kept with its error and reading
// resumes on the next line.
std::vector<CsvRecord> ParseCsv(std::string_view text);

// Reads records from a stream as ParseCsv reads them from a text, holding
// only a window of the input: memory stays flat however long the input is.
// A record longer than kMaxRecordBytes (a quoted field never closed, most
// likely) is reported as malformed and reading resumes on the line after the
// one it started on. A UTF-8 byte-order mark (spreadsheets write one) is
// dropped.
class TCsvStream {
public:
    static constexpr std::size_t kMaxRecordBytes = std::size_t{1} << 20;

    explicit TCsvStream(std::istream& in) : in_(in) {}

    // The next record that is not a blank line; false at the end of the input.
    bool Next(CsvRecord& record);
    // Takes whole records into `chunk` until it holds `maxRows` or `maxBytes`
    // (and at least one record); false when the input has none left.
    bool NextChunk(CsvChunk& chunk, std::size_t maxRows, std::size_t maxBytes);
    // Keeps at most `limit` fields of a record (counting the others), so that
    // a row of a million empty cells costs no more than its bytes.
    void LimitFields(std::size_t limit) { limit_ = limit; }
    // Bytes of the input taken up by the records read so far.
    std::uint64_t Consumed() const { return consumed_; }
    // False when reading the stream failed before its end.
    bool Healthy() const { return !in_.bad(); }

private:
    void Fill();
    void SkipRestOfLine();
    void AddLines(CsvChunk& chunk, std::size_t begin, std::size_t end, std::size_t line);

    std::istream& in_;
    std::string window_;
    std::size_t pos_ = 0;  // start of the next record in window_
    std::size_t line_ = 1;
    std::uint64_t consumed_ = 0;
    bool end_ = false;  // window_ holds the rest of the input
    bool started_ = false;  // the first bytes were read (and a byte-order mark dropped)
    std::size_t limit_ = static_cast<std::size_t>(-1);
    std::size_t quote_ = 0;  // the first quote at or after pos_ in window_ (npos: none)
    bool quoteKnown_ = false;
};

// `field` as a CSV field: quoted when it holds a comma, a quote or a line
// break.
std::string CsvField(std::string_view field);

}  // namespace kestrix::cli
