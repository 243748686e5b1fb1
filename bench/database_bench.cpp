// Add, search and delete on address books of growing size. Searches report
// the record reads they cost; adds and deletes in the middle move every later
// slot, so their time grows with the book.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "common/book_records.h"
#include "common/database.h"

namespace {

// A book of n records with the even ids 2, 4, ..., written straight to disk.
class Book {
 public:
  explicit Book(int n) {
    char dir[] = "/tmp/korvo-bench-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    folder_ = dir;
    path_ = folder_ + "/Address.bok";
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    const uint32_t header[8] = {0xDB01, sizeof(korvo::AddressRecord) + 1, static_cast<uint32_t>(n),
                                static_cast<uint32_t>(2 * n)};
    std::fwrite(header, sizeof header, 1, f);
    korvo::AddressRecord r;
    r.lastName.Assign("Surname");
    r.faxNumber.Assign("+385 1 555 0000");
    const char status = 0;
    for (int i = 1; i <= n; ++i) {
      r.id = 2 * i;
      std::fwrite(&status, 1, 1, f);
      std::fwrite(&r, sizeof r, 1, f);
    }
    std::fclose(f);
    db_ = std::make_unique<korvo::Database>(path_.c_str(), static_cast<int>(sizeof r), korvo::CompareAddressIds);
    db_->Open();
  }
  ~Book() {
    db_.reset();
    std::filesystem::remove_all(folder_);
  }
  korvo::Database& db() { return *db_; }

 private:
  std::string folder_, path_;
  std::unique_ptr<korvo::Database> db_;
};

void BM_Search(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Book book(n);
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> pick(1, n);
  korvo::AddressRecord key;
  const uint64_t before = book.db().SlotReads();
  for (auto _ : state) {
    key.id = 2 * pick(rng);
    int index = 0;
    benchmark::DoNotOptimize(book.db().IndexOf(&key, &index));
  }
  state.counters["reads/search"] =
      static_cast<double>(book.db().SlotReads() - before) / static_cast<double>(state.iterations());
}

// Adds a record in the middle of the book (removed again untimed).
void BM_AddMiddle(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Book book(n);
  korvo::AddressRecord r;
  r.id = n + 1;  // odd: between two records
  for (auto _ : state) {
    if (book.db().Add(&r) < 0) state.SkipWithError("add failed");
    state.PauseTiming();
    book.db().Delete(&r);
    state.ResumeTiming();
  }
}

// Adds a record after the last one (removed again untimed).
void BM_AddEnd(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Book book(n);
  korvo::AddressRecord r;
  r.id = 2 * n + 1;
  for (auto _ : state) {
    if (book.db().Add(&r) < 0) state.SkipWithError("add failed");
    state.PauseTiming();
    book.db().Delete(&r);
    state.ResumeTiming();
  }
}

// Deletes a record from the middle of the book (put back untimed).
void BM_DeleteMiddle(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Book book(n);
  korvo::AddressRecord r;
  r.id = 2 * (n / 2);
  for (auto _ : state) {
    if (book.db().Delete(&r) < 0) state.SkipWithError("delete failed");
    state.PauseTiming();
    book.db().Add(&r);
    state.ResumeTiming();
  }
}

BENCHMARK(BM_Search)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_AddEnd)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AddMiddle)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteMiddle)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
