#include "Book.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>
#include <span>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "Csv.h"
#include "Host.h"
#include "Suggest.h"
#include "automation/TypeLibrary.h"

namespace kestrix::cli {

namespace {

// Rows a thread takes at a time (and input bytes, whichever comes first),
// how many batches may wait for an earlier one to be written (per thread),
// and the input bytes all batches in flight may hold: memory stays within a
// fixed budget whatever the size or shape of the book, and a slow batch does
// not stall the others at once.
constexpr std::size_t kBatchRows = 256;
constexpr std::size_t kBatchBytes = std::size_t{1} << 16;
constexpr std::size_t kBatchesPerThread = 4;
constexpr std::uint64_t kBytesInFlight = std::uint64_t{16} << 20;

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
    std::size_t method = 0;
    std::vector<std::size_t> parameters;  // the columns passed to the object, in order
};

// "inputName:line: message", a line of its own.
std::string Located(std::string_view inputName, std::size_t line, std::string_view message) {
    std::string text(inputName);
    text += ':';
    text += std::to_string(line);
    text += ": ";
    text += Printable(message);
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
        } else {
            columns.parameters.push_back(columns.names.size());
        }
        columns.names.push_back(name);
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
    std::uint64_t bytes = 0;     // input bytes of the batch
    std::uint64_t consumed = 0;  // bytes of the book read up to the batch's end
    bool ready = false;
};

// One row as read: its cells (at most the header's number of them kept) and,
// for a line of plain cells, the line itself, which is then also its cells
// as they are written out.
struct RowCells {
    std::size_t line = 0;
    std::span<const std::string_view> fields;
    std::size_t cells = 0;
    std::string_view error;
    std::string_view plain;
};

void AppendField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
    } else {
        out += CsvField(field);
    }
}

// The row's cells padded (or cut) to the header, then Result, HResult and
// Description.
void AppendRow(std::string& out, const RowCells& row, std::size_t width, const double* result, HRESULT hr,
               std::string_view description) {
    if (!row.plain.empty() && row.cells <= width && row.plain.find('\r') == std::string_view::npos) {
        out += row.plain;
        out.append(width - row.cells + 1, ',');
    } else {
        for (std::size_t i = 0; i < width; ++i) {
            if (i < row.fields.size()) AppendField(out, row.fields[i]);
            out += ',';
        }
    }
    if (result != nullptr) AppendNumber(out, *result);
    out += ',';
    AppendHResult(out, hr);
    out += ',';
    if (!description.empty()) AppendField(out, Printable(description));
    out += '\n';
}

// What one pricing thread keeps from row to row, so that a row costs no
// allocation.
struct Scratch {
    CsvChunk chunk;
    std::vector<std::string_view> fields;
    std::vector<std::string_view> names;
    std::vector<std::string_view> values;
};

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
        TCaller caller(object);
        Scratch scratch;
        for (;;) {
            std::size_t sequence = 0;
            bool taken = false;
            try {
                PricedBatch batch;
                {
                    std::unique_lock read(readLock_);
                    if (inputDone_ || stop_) return;
                    sequence = nextRead_;
                    {
                        std::unique_lock write(writeLock_);
                        written_.wait(write, [&] {
                            return stop_ || (sequence < nextWrite_ + slots_.size() && inFlight_ < kBytesInFlight);
                        });
                        if (stop_) return;
                    }
                    if (!stream_.NextChunk(scratch.chunk, kBatchRows, kBatchBytes)) {
                        inputDone_ = true;
                        return;
                    }
                    ++nextRead_;
                    taken = true;
                    batch.bytes = scratch.chunk.bytes;
                    batch.consumed = stream_.Consumed();
                    std::lock_guard write(writeLock_);
                    inFlight_ += batch.bytes;
                }
                PriceChunk(caller, scratch, batch);
                Deposit(sequence, std::move(batch));
            } catch (const std::bad_alloc&) {
                Abandon(taken, sequence);
                return;
            }
        }
    }

    // Says so when a thread has no object to price with; the others take its share.
    void NoObject() {
        std::lock_guard write(writeLock_);
        if (progress_ != nullptr) progress_->Clear();
        errors_ << "kestrix: a pricing thread could not create its Kestrix object\n";
    }

    // Ends the run for want of memory: the batch taken (if any) is given up and
    // nothing more is written.
    void Abandon(bool taken, std::size_t sequence) {
        std::lock_guard write(writeLock_);
        summary_.outOfMemory = true;
        stop_ = true;
        if (taken) slots_[sequence % slots_.size()].ready = true;
        written_.notify_all();
    }

    BookSummary Finish() {
        if (progress_ != nullptr && !stop_) progress_->Finish(rows_, stream_.Consumed());
        summary_.readable = true;
        summary_.inputFailed = !stream_.Healthy();
        return summary_;
    }

private:
    void PriceChunk(TCaller& caller, Scratch& scratch, PricedBatch& batch) const {
        const std::size_t width = columns_.names.size();
        const CsvChunk& chunk = scratch.chunk;
        for (const auto& piece : chunk.pieces) {
            if (stop_) return;
            if (!piece.lines) {
                const CsvRecord& record = chunk.records[piece.record];
                scratch.fields.assign(record.fields.begin(), record.fields.end());
                Price(caller, RowCells{record.line, scratch.fields, record.cells, record.error, {}}, scratch, batch);
                continue;
            }
            std::string_view text(chunk.text.data() + piece.begin, piece.end - piece.begin);
            for (std::size_t line = piece.line; !text.empty(); ++line) {
                const auto lineBreak = text.find('\n');
                std::string_view content = text.substr(0, lineBreak);
                text.remove_prefix(lineBreak == std::string_view::npos ? text.size() : lineBreak + 1);
                // CRLF, or a CR ending the input, is a line break too.
                if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
                if (content.empty()) continue;  // a blank line
                const std::size_t cells = SplitLine(content, width, scratch.fields);
                Price(caller, RowCells{line, scratch.fields, cells, {}, content}, scratch, batch);
            }
        }
    }

    void Price(TCaller& caller, const RowCells& row, Scratch& scratch, PricedBatch& batch) const {
        ++batch.count;
        const std::size_t width = columns_.names.size();
        std::string problem(row.error);
        if (problem.empty() && row.cells != width) {
            problem = "the row has " + std::to_string(row.cells) + " cells, the header " + std::to_string(width);
        }
        if (problem.empty() && Trim(row.fields[columns_.method]).empty()) problem = "the row names no method";
        if (!problem.empty()) {
            ReportRow(batch, row.line, problem);
            AppendRow(batch.rows, row, width, nullptr, E_INVALIDARG, problem);
            ++batch.malformed;
            return;
        }

        // The filled cells make the list of names: their columns are its key.
        scratch.names.clear();
        scratch.values.clear();
        std::uint64_t filled = 0;
        for (std::size_t p = 0; p < columns_.parameters.size(); ++p) {
            const std::size_t c = columns_.parameters[p];
            const std::string_view value = Trim(row.fields[c]);
            if (value.empty()) continue;
            scratch.names.push_back(columns_.names[c]);
            scratch.values.push_back(value);
            if (p < 63) filled |= std::uint64_t{1} << p;
        }
        const std::uint64_t key = columns_.parameters.size() < 63 ? filled | std::uint64_t{1} << 63 : 0;
        const Outcome outcome =
            caller.Call(Trim(row.fields[columns_.method]), scratch.names, scratch.values, key);
        if (outcome.Succeeded()) {
            AppendRow(batch.rows, row, width, &outcome.result, outcome.hr, "");
            ++batch.priced;
            return;
        }
        AppendRow(batch.rows, row, width, nullptr, outcome.hr, outcome.description);
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
            if (!stop_) {
                out_.write(next.rows.data(), static_cast<std::streamsize>(next.rows.size()));
                if (!out_) {
                    // Nobody receives what would follow: stop reading and pricing.
                    summary_.outputFailed = true;
                    stop_ = true;
                }
            }
            if (!stop_ && !next.messages.empty()) {
                if (progress_ != nullptr) progress_->Clear();
                errors_ << next.messages << std::flush;
            }
            rows_ += next.count;
            summary_.priced += next.priced;
            summary_.failed += next.failed;
            summary_.malformed += next.malformed;
            inFlight_ -= next.bytes;
            if (progress_ != nullptr && !stop_) progress_->Update(rows_, next.consumed);
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
    std::atomic<bool> stop_ = false;  // a write failed or memory ran out

    std::mutex readLock_;  // the stream, nextRead_, inputDone_
    std::size_t nextRead_ = 0;
    bool inputDone_ = false;

    std::mutex writeLock_;  // everything below, and the output streams
    std::condition_variable written_;
    std::vector<PricedBatch> slots_;
    std::size_t nextWrite_ = 0;
    std::uint64_t inFlight_ = 0;  // input bytes of the batches taken and not yet written
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
    stream.LimitFields(columns.names.size());
    TBookRun book(stream, columns, inputName, out, errors, run);
    // Helpers wait at a gate until the number that will work is known, so
    // that a shortfall is said before any row.
    std::mutex gateLock;
    std::condition_variable gateOpened;
    bool open = false;
    unsigned working = run.threads;  // the calling thread included
    std::vector<std::thread> helpers;
    try {
        helpers.reserve(run.threads);
        while (helpers.size() + 1 < run.threads) {
            const unsigned index = static_cast<unsigned>(helpers.size()) + 1;
            // The object is apartment-threaded: each thread creates and uses its own.
            helpers.emplace_back([&, index] {
                {
                    std::unique_lock gate(gateLock);
                    gateOpened.wait(gate, [&] { return open; });
                    if (index >= working) return;
                }
                IDispatch* own = CreateKestrix();
                if (own == nullptr) {
                    book.NoObject();
                    return;
                }
                book.Work(own);
                own->Release();
            });
        }
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    const auto started = static_cast<unsigned>(helpers.size()) + 1;
    if (started < run.threads) {
        // Too little memory or too many processes: the system is at its limit,
        // so three in four of the threads that started give their stacks back
        // to the work.
        working = std::max(1u, started / 4);
        errors << "kestrix: " << run.threads << " pricing threads could not be started; the book is priced on "
               << working << '\n';
    }
    {
        std::lock_guard gate(gateLock);
        open = true;
    }
    gateOpened.notify_all();
    for (std::size_t i = working > 0 ? working - 1 : 0; i < helpers.size(); ++i) helpers[i].join();
    book.Work(object);
    for (std::size_t i = 0; i + 1 < working && i < helpers.size(); ++i) helpers[i].join();
    return book.Finish();
}

BookSummary PriceBook(IDispatch* object, std::string_view text, std::string_view inputName, std::ostream& out,
                      std::ostream& errors) {
    std::istringstream in{std::string(text)};
    return PriceBook(object, in, inputName, out, errors, BookRun{});
}

}  // namespace kestrix::cli
