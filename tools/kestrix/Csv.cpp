#include "Csv.h"

namespace kestrix::cli {

namespace {

class TCsvReader {
public:
    explicit TCsvReader(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ >= text_.size(); }

    CsvRecord Next() {
        CsvRecord record;
        record.line = line_;
        const std::size_t start = pos_;
        for (;;) {
            std::string field;
            const bool quoted = pos_ < text_.size() && text_[pos_] == '"';
            const bool ok = quoted ? ReadQuoted(field, record.error) : ReadPlain(field, record.error);
            record.fields.push_back(std::move(field));
            if (!ok) {
                // A quote never closed swallowed the rest of the text: read on
                // from the line after the record's start instead.
                if (AtEnd() && quoted) {
                    pos_ = start;
                    line_ = record.line;
                }
                SkipLine();
                return record;
            }
            if (pos_ < text_.size() && text_[pos_] == ',') {
                ++pos_;
                continue;
            }
            EndOfLine();
            return record;
        }
    }

private:
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
        while (pos_ < text_.size() && text_[pos_] != ',' && !AtLineEnd()) {
            if (text_[pos_] == '"') {
                error = "a quote inside an unquoted field";
                return false;
            }
            field += text_[pos_++];
        }
        return true;
    }

    bool ReadQuoted(std::string& field, std::string& error) {
        ++pos_;  // the opening quote
        for (;;) {
            if (pos_ >= text_.size()) {
                error = "a quoted field is not closed";
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
    std::size_t line_ = 1;
};

bool Blank(const CsvRecord& record) {
    return record.error.empty() && record.fields.size() == 1 && record.fields[0].empty();
}

}  // namespace

std::vector<CsvRecord> ParseCsv(std::string_view text) {
    std::vector<CsvRecord> records;
    TCsvReader reader(text);
    while (!reader.AtEnd()) {
        CsvRecord record = reader.Next();
        if (!Blank(record)) records.push_back(std::move(record));
    }
    return records;
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
