#include "Book.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Csv.h"
#include "Host.h"
#include "Suggest.h"
#include "automation/TypeLibrary.h"

namespace kestrix::cli {

namespace {

// Rows a thread takes at a time, and how many batches may wait for an
// earlier one to be written (per thread): memory stays bounded whatever the
// size of the book, and a slow batch does not stall the others at once.
constexpr std::size_t kBatchRows = 256;
constexpr std::size_t kBatchesPerThread = 4;

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// True when some method has a parameter of this name.
bool KnownParameter(std::string_view name) {
    for (const auto& method : typelib::kMethods) {
        if (FindParam(method, name) >= 0) return true;
    }
    return false;
}

struct BookColumns {
    std::vector<std::string> names;
    std::vector<bool> carried;  // a column of the trade system's own, not a parameter
    std::size_t method = 0;
};

// "inputName:line: message", a line of its own.
std::string Located(std::string_view inputName, std::size_t line, std::string_view message) {
    std::string text(inputName);
    text += ':';
    text += std::to_string(line);
    text += ": ";
    text += message;
    text += '\n';
    return text;
}

void Report(std::ostream& errors, std::string_view inputName, std::size_t line, std::string_view message) {
    errors << Located(inputName, line, message);
}

// Reads the header and checks it names usable columns; writes the output's
// header when it does.
bool ReadHeader(TCsvStream& stream, std::string_view inputName, std::ostream& out, std::ostream& errors,
                BookColumns& columns, bool strict) {
    CsvRecord header;
    if (!stream.Next(header)) {
        errors << inputName << ": the book is empty; its first line names the columns\n";
        return false;
    }
    if (!header.error.empty()) {
        Report(errors, inputName, header.line, header.error);
        return false;
    }
    columns.method = header.fields.size();
    for (const auto& cell : header.fields) {
        const std::string name(Trim(cell));
        for (const auto& seen : columns.names) {
            if (SameName(seen, name)) {
                Report(errors, inputName, header.line, "the column '" + name + "' appears twice");
                return false;
            }
        }
        bool carried = false;
        if (SameName(name, "Method")) {
            columns.method = columns.names.size();
        } else if (!KnownParameter(name)) {
            // A column of the book's own (TradeId, Comment) is carried through
            // untouched; one named close to a parameter is a misspelling and
            // is never silently ignored.
            std::vector<const char*> known = ParameterNames();
            known.push_back("Method");
            const std::string suggestion = DidYouMean(name, known);
            if (!suggestion.empty() || strict) {
                Report(errors, inputName, header.line,
                       "'" + name + "' is not a parameter of any method" + (strict ? " (--strict)" : suggestion));
                return false;
            }
            carried = true;
        }
        columns.names.push_back(name);
        columns.carried.push_back(carried);
    }
    if (columns.method == columns.names.size()) {
        Report(errors, inputName, header.line, "there is no Method column");
        return false;
    }
    for (const auto& cell : header.fields) out << CsvField(cell) << ',';
    out << "Result,HResult,Description\n";
    return true;
}

// One batch of rows, priced and formatted, waiting for its turn to be written.
struct PricedBatch {
    std::string rows;
    std::string messages;
    std::size_t count = 0;
    std::size_t priced = 0;
    std::size_t failed = 0;
    std::size_t malformed = 0;
    std::uint64_t consumed = 0;  // bytes of the book read up to the batch's end
    bool ready = false;
};

void AppendRow(std::string& out, const std::vector<std::string>& cells, std::size_t width, std::string_view result,
               HRESULT hr, std::string_view description) {
    for (std::size_t i = 0; i < width; ++i) {
        if (i < cells.size()) out += CsvField(cells[i]);
        out += ',';
    }
    out += result;
    out += ',';
    out += FormatHResult(hr);
    out += ',';
    out += CsvField(description);
    out += '\n';
}

// Takes rows from a shared stream in batches, prices each batch on the thread
// that took it and writes the batches in the order they were read.
class TBookRun {
public:
    TBookRun(TCsvStream& stream, const BookColumns& columns, std::string_view inputName, std::ostream& out,
             std::ostream& errors, const BookRun& run)
        : stream_(stream),
          columns_(columns),
          inputName_(inputName),
          out_(out),
          errors_(errors),
          progress_(run.progress),
          slots_(kBatchesPerThread * std::max(1u, run.threads)) {}

    void Work(IDispatch* object) {
        std::vector<CsvRecord> records;
        std::vector<NamedValue> args;
        for (;;) {
            std::size_t sequence = 0;
            PricedBatch batch;
            {
                std::unique_lock read(readLock_);
                if (inputDone_) return;
                sequence = nextRead_;
                {
                    std::unique_lock write(writeLock_);
                    written_.wait(write, [&] { return sequence < nextWrite_ + slots_.size(); });
                }
                records.clear();
                CsvRecord record;
                while (records.size() < kBatchRows && stream_.Next(record)) records.push_back(std::move(record));
                if (records.size() < kBatchRows) inputDone_ = true;
                if (records.empty()) return;
                ++nextRead_;
                batch.consumed = stream_.Consumed();
            }
            for (const auto& row : records) Price(object, row, args, batch);
            batch.count = records.size();
            Deposit(sequence, std::move(batch));
        }
    }

    // Says so when a thread has no object to price with; the others take its share.
    void NoObject() {
        std::lock_guard write(writeLock_);
        if (progress_ != nullptr) progress_->Clear();
        errors_ << "kestrix: a pricing thread could not create its Kestrix object\n";
    }

    BookSummary Finish() {
        if (progress_ != nullptr) progress_->Finish(rows_, stream_.Consumed());
        summary_.readable = true;
        summary_.inputFailed = !stream_.Healthy();
        return summary_;
    }

private:
    void Price(IDispatch* object, const CsvRecord& row, std::vector<NamedValue>& args, PricedBatch& batch) const {
        const std::size_t width = columns_.names.size();
        std::string problem = row.error;
        if (problem.empty() && row.fields.size() != width) {
            problem = "the row has " + std::to_string(row.fields.size()) + " cells, the header " +
                      std::to_string(width);
        }
        if (problem.empty() && Trim(row.fields[columns_.method]).empty()) problem = "the row names no method";
        if (!problem.empty()) {
            ReportRow(batch, row.line, problem);
            AppendRow(batch.rows, row.fields, width, "", E_INVALIDARG, problem);
            ++batch.malformed;
            return;
        }

        args.clear();
        for (std::size_t c = 0; c < width; ++c) {
            const std::string_view value = Trim(row.fields[c]);
            if (c != columns_.method && !columns_.carried[c] && !value.empty()) {
                args.push_back({columns_.names[c], std::string(value)});
            }
        }
        const Outcome outcome = CallMethod(object, Trim(row.fields[columns_.method]), args);
        if (outcome.Succeeded()) {
            AppendRow(batch.rows, row.fields, width, FormatNumber(outcome.result), outcome.hr, "");
            ++batch.priced;
            return;
        }
        AppendRow(batch.rows, row.fields, width, "", outcome.hr, outcome.description);
        if (outcome.fromMethod) {
            ++batch.failed;
        } else {
            ReportRow(batch, row.line, outcome.description);
            ++batch.malformed;
        }
    }

    void ReportRow(PricedBatch& batch, std::size_t line, std::string_view message) const {
        batch.messages += Located(inputName_, line, message);
    }

    // Files a priced batch and writes every batch whose turn has come.
    void Deposit(std::size_t sequence, PricedBatch batch) {
        std::lock_guard write(writeLock_);
        PricedBatch& slot = slots_[sequence % slots_.size()];
        slot = std::move(batch);
        slot.ready = true;
        for (;;) {
            PricedBatch& next = slots_[nextWrite_ % slots_.size()];
            if (!next.ready) break;
            out_.write(next.rows.data(), static_cast<std::streamsize>(next.rows.size()));
            if (!next.messages.empty()) {
                if (progress_ != nullptr) progress_->Clear();
                errors_ << next.messages << std::flush;
            }
            rows_ += next.count;
            summary_.priced += next.priced;
            summary_.failed += next.failed;
            summary_.malformed += next.malformed;
            if (progress_ != nullptr) progress_->Update(rows_, next.consumed);
            next = PricedBatch{};
            ++nextWrite_;
        }
        written_.notify_all();
    }

    TCsvStream& stream_;
    const BookColumns& columns_;
    std::string_view inputName_;
    std::ostream& out_;
    std::ostream& errors_;
    TProgressBar* progress_;

    std::mutex readLock_;  // the stream, nextRead_, inputDone_
    std::size_t nextRead_ = 0;
    bool inputDone_ = false;

    std::mutex writeLock_;  // everything below, and the output streams
    std::condition_variable written_;
    std::vector<PricedBatch> slots_;
    std::size_t nextWrite_ = 0;
    std::uint64_t rows_ = 0;
    BookSummary summary_;
};

}  // namespace

BookSummary PriceBook(IDispatch* object, std::istream& in, std::string_view inputName, std::ostream& out,
                      std::ostream& errors, const BookRun& run) {
    TCsvStream stream(in);
    BookColumns columns;
    if (!ReadHeader(stream, inputName, out, errors, columns, run.strict)) {
        BookSummary summary;
        summary.inputFailed = !stream.Healthy();
        return summary;
    }
    TBookRun book(stream, columns, inputName, out, errors, run);
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < run.threads; ++i) {
        // The object is apartment-threaded: each thread creates and uses its own.
        helpers.emplace_back([&book] {
            IDispatch* own = CreateKestrix();
            if (own == nullptr) {
                book.NoObject();
                return;
            }
            book.Work(own);
            own->Release();
        });
    }
    book.Work(object);
    for (auto& helper : helpers) helper.join();
    return book.Finish();
}

BookSummary PriceBook(IDispatch* object, std::string_view text, std::string_view inputName, std::ostream& out,
                      std::ostream& errors) {
    std::istringstream in{std::string(text)};
    return PriceBook(object, in, inputName, out, errors, BookRun{});
}

}  // namespace kestrix::cli
