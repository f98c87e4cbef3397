#include "Csv.h"

#include <algorithm>
#include <cstring>

namespace kestrix::cli {

namespace {

// Reads records from a text that is either the whole rest of the input
// (`final`) or a window of it. In a window, a record that reaches the end of
// the text without its line break may continue beyond it: the reader then
// reports it incomplete instead of guessing.
class TCsvReader {
public:
    TCsvReader(std::string_view text, std::size_t line, bool final, std::size_t limit = static_cast<std::size_t>(-1))
        : text_(text), line_(line), final_(final), limit_(limit) {}

    bool AtEnd() const { return pos_ >= text_.size(); }
    bool Incomplete() const { return incomplete_; }
    // The line of the quote still open where the text ended (0: none).
    std::size_t OpenQuoteLine() const { return openQuoteLine_; }
    std::size_t Position() const { return pos_; }
    std::size_t Line() const { return line_; }

    CsvRecord Next() {
        CsvRecord record;
        record.line = line_;
        const std::size_t start = pos_;
        for (;;) {
            std::string field;
            const bool quoted = pos_ < text_.size() && text_[pos_] == '"';
            const bool ok = quoted ? ReadQuoted(field, record.error) : ReadPlain(field, record.error);
            if (record.fields.size() < limit_) record.fields.push_back(std::move(field));
            ++record.cells;
            if (!ok) {
                // A quote never closed swallowed the rest of the text: read on
                // from the line after the record's start instead.
                if (AtEnd() && quoted) {
                    if (!final_) {
                        incomplete_ = true;
                        return record;
                    }
                    pos_ = start;
                    line_ = record.line;
                }
                SkipLine();
                return Finish(std::move(record), start);
            }
            if (pos_ < text_.size() && text_[pos_] == ',') {
                ++pos_;
                continue;
            }
            EndOfLine();
            return Finish(std::move(record), start);
        }
    }

private:
    // Only a record ended by its line break is known to be whole in a window.
    CsvRecord Finish(CsvRecord record, std::size_t start) {
        incomplete_ = !final_ && (pos_ == start || text_[pos_ - 1] != '\n');
        return record;
    }

    bool AtLineEnd() const {
        return pos_ >= text_.size() || text_[pos_] == '\n' ||
               (text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') ||
               (text_[pos_] == '\r' && pos_ + 1 == text_.size());
    }

    void EndOfLine() {
        if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
        if (pos_ < text_.size() && text_[pos_] == '\n') {
            ++pos_;
            ++line_;
        }
    }

    void SkipLine() {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
        EndOfLine();
    }

    bool ReadPlain(std::string& field, std::string& error) {
        const std::size_t begin = pos_;
        bool ok = true;
        while (pos_ < text_.size() && text_[pos_] != ',' && !AtLineEnd()) {
            if (text_[pos_] == '"') {
                error = "a quote inside an unquoted field";
                ok = false;
                break;
            }
            ++pos_;
        }
        field.assign(text_.substr(begin, pos_ - begin));
        return ok;
    }

    bool ReadQuoted(std::string& field, std::string& error) {
        ++pos_;  // the opening quote
        const std::size_t opened = line_;
        for (;;) {
            if (pos_ >= text_.size()) {
                error = "a quoted field is not closed";
                openQuoteLine_ = opened;
                return false;
            }
            const char c = text_[pos_++];
            if (c == '"') {
                if (pos_ < text_.size() && text_[pos_] == '"') {
                    field += '"';
                    ++pos_;
                    continue;
                }
                if (pos_ < text_.size() && text_[pos_] != ',' && !AtLineEnd()) {
                    error = "text after the closing quote of a field";
                    return false;
                }
                return true;
            }
            if (c == '\n') ++line_;
            field += c;
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t line_;
    bool final_;
    std::size_t limit_;
    bool incomplete_ = false;
    std::size_t openQuoteLine_ = 0;
};

bool Blank(const CsvRecord& record) {
    return record.error.empty() && record.fields.size() == 1 && record.fields[0].empty();
}

constexpr std::size_t kReadChunk = std::size_t{1} << 18;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

std::size_t SplitLine(std::string_view line, std::size_t limit, std::vector<std::string_view>& fields) {
    fields.clear();
    // Cells are short: a plain loop beats a library search per cell.
    std::size_t cells = 1, start = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != ',') continue;
        if (cells <= limit) fields.push_back(line.substr(start, i - start));
        ++cells;
        start = i + 1;
    }
    if (cells <= limit) fields.push_back(line.substr(start));
    return cells;
}

std::vector<CsvRecord> ParseCsv(std::string_view text) {
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
    std::vector<CsvRecord> records;
    TCsvReader reader(text, 1, true);
    while (!reader.AtEnd()) {
        CsvRecord record = reader.Next();
        if (!Blank(record)) records.push_back(std::move(record));
    }
    return records;
}

bool TCsvStream::Next(CsvRecord& record) {
    for (;;) {
        if (pos_ == window_.size()) {
            if (end_) return false;
            Fill();
            continue;
        }
        TCsvReader reader(std::string_view(window_).substr(pos_), line_, end_, limit_);
        record = reader.Next();
        const bool tooLong = reader.Incomplete() ? window_.size() - pos_ >= kMaxRecordBytes
                                                 : reader.Position() > kMaxRecordBytes;
        if (reader.Incomplete() && !tooLong) {
            Fill();
            continue;
        }
        if (tooLong) {
            record.fields.clear();
            record.cells = 0;
            const std::string limit = std::to_string(kMaxRecordBytes) + " bytes";
            record.error = reader.Incomplete() && reader.OpenQuoteLine() > 0
                               ? "a quote opened on line " + std::to_string(reader.OpenQuoteLine()) +
                                     " is not closed within " + limit
                               : "the record is longer than " + limit;
            SkipRestOfLine();
            return true;
        }
        pos_ += reader.Position();
        consumed_ += reader.Position();
        line_ = reader.Line();
        if (!Blank(record)) return true;
    }
}

// Moves the unread part of the window to its front and appends a chunk of
// the input; at the end of the input (or a read error) marks the window final.
void TCsvStream::Fill() {
    window_.erase(0, pos_);
    pos_ = 0;
    quoteKnown_ = false;
    const std::size_t held = window_.size();
    window_.resize(held + kReadChunk);
    in_.read(window_.data() + held, static_cast<std::streamsize>(kReadChunk));
    window_.resize(held + static_cast<std::size_t>(in_.gcount()));
    if (!in_) end_ = true;
    if (!started_) {
        started_ = true;
        if (std::string_view(window_).substr(0, kByteOrderMark.size()) == kByteOrderMark) {
            pos_ = kByteOrderMark.size();
            consumed_ += pos_;
        }
    }
}

void TCsvStream::AddLines(CsvChunk& chunk, std::size_t begin, std::size_t end, std::size_t line) {
    if (begin == end) return;
    CsvChunk::Piece piece;
    piece.lines = true;
    piece.begin = chunk.text.size();
    chunk.text.append(window_, begin, end - begin);
    piece.end = chunk.text.size();
    piece.line = line;
    chunk.pieces.push_back(piece);
}

bool TCsvStream::NextChunk(CsvChunk& chunk, std::size_t maxRows, std::size_t maxBytes) {
    chunk.Clear();
    constexpr std::size_t kNone = std::string::npos;
    std::size_t runStart = kNone, runLine = 0;
    const auto endRun = [&] {
        if (runStart != kNone) AddLines(chunk, runStart, pos_, runLine);
        runStart = kNone;
    };
    while (chunk.rows < maxRows && chunk.bytes < maxBytes) {
        if (pos_ == window_.size()) {
            if (end_) break;
            endRun();
            Fill();
            continue;
        }
        if (!quoteKnown_ || (quote_ != kNone && quote_ < pos_)) {
            quote_ = window_.find('"', pos_);
            quoteKnown_ = true;
        }
        const char* start = window_.data() + pos_;
        const auto* lineBreak = static_cast<const char*>(std::memchr(start, '\n', window_.size() - pos_));
        std::size_t lineEnd = lineBreak != nullptr ? static_cast<std::size_t>(lineBreak - window_.data()) + 1
                                                   : (end_ ? window_.size() : kNone);
        if (lineEnd == kNone && window_.size() - pos_ < kMaxRecordBytes) {
            endRun();
            Fill();  // the line goes on beyond the window
            continue;
        }
        // A whole line of plain fields is a record as it stands: taken as bytes.
        if (lineEnd != kNone && lineEnd - pos_ <= kMaxRecordBytes && (quote_ == kNone || quote_ >= lineEnd)) {
            if (runStart == kNone) {
                runStart = pos_;
                runLine = line_;
            }
            chunk.bytes += lineEnd - pos_;
            consumed_ += lineEnd - pos_;
            pos_ = lineEnd;
            if (lineBreak != nullptr) ++line_;
            ++chunk.rows;
            continue;
        }
        // Quotes (or a record too long): read field by field.
        endRun();
        const std::uint64_t before = consumed_;
        chunk.records.emplace_back();
        if (!Next(chunk.records.back())) {
            chunk.records.pop_back();
            break;
        }
        CsvChunk::Piece piece;
        piece.record = chunk.records.size() - 1;
        chunk.pieces.push_back(piece);
        chunk.bytes += consumed_ - before;
        ++chunk.rows;
    }
    endRun();
    chunk.final = end_ && pos_ == window_.size();
    return !chunk.pieces.empty();
}

void TCsvStream::SkipRestOfLine() {
    for (;;) {
        const std::size_t lineBreak = window_.find('\n', pos_);
        if (lineBreak != std::string::npos) {
            consumed_ += lineBreak + 1 - pos_;
            pos_ = lineBreak + 1;
            ++line_;
            return;
        }
        consumed_ += window_.size() - pos_;
        pos_ = window_.size();
        if (end_) return;
        Fill();
    }
}

std::string CsvField(std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(field);
    std::string quoted = "\"";
    for (const char c : field) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace kestrix::cli
