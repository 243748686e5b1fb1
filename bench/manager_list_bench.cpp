// Filling and sorting the manager's list model: journals grow without bound.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>

#include "manager/list_model.h"

namespace {

using korvo::manager::ItemValue;

// The list's settings go to hives in a temporary folder for the run.
struct TempHives {
  TempHives() {
    std::string templ = std::filesystem::temp_directory_path().string() + "/korvo-bench-XXXXXX";
    if (!mkdtemp(templ.data())) abort();
    dir = templ;
    setenv("KORVO_MACHINE_HIVE", (dir / "machine.reg").c_str(), 1);
    setenv("KORVO_USER_HIVE", (dir / "user.reg").c_str(), 1);
    setenv("KORVO_TRACE", (dir / "trace.log").c_str(), 1);
  }
  ~TempHives() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::filesystem::path dir;
} gHives;

class NullUi final : public korvo::manager::UiServices {
 public:
  korvo::desktop::Answer Message(const std::string&, const std::string&, korvo::desktop::Buttons,
                                 korvo::desktop::Icon) override {
    return korvo::desktop::Answer::Ok;
  }
  bool StartTimer(int) override { return true; }
  void StopTimer() override {}
  std::optional<int> AskRefreshInterval(int) override { return std::nullopt; }
};

// Rows are numbers in random order; the list sorts them by value.
class Numbers : public korvo::manager::ListContext {
 public:
  static inline int rows = 0;
  void Fill() override {
    std::mt19937 random(7);
    for (int i = 0; i < rows; ++i) model_->InsertRow(model_->RowCount(), static_cast<ItemValue>(random()));
  }
  korvo::manager::CompareFunction GetCompareFunction() override {
    return [](ItemValue a, ItemValue b, uint32_t p) {
      const int r = (a > b) - (a < b);
      return (p >> 16) ? -r : r;
    };
  }
  korvo::manager::ColumnTable GetColumnTable() override {
    static const korvo::manager::ColumnDescriptor kColumns[] = {{"Number", 60}};
    return {kColumns, 1};
  }
};

const korvo::manager::ListClass kNumbers{"Numbers", &korvo::manager::CreateList<Numbers>};

void FillAndSort(benchmark::State& state) {
  Numbers::rows = static_cast<int>(state.range(0));
  NullUi ui;
  korvo::manager::ListModel model(ui);
  model.Open(kNumbers, {"Bench", false, {}});
  for (auto _ : state) {
    model.Refill();
    model.ClickColumn(0);  // ascending, then descending on the next round
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(FillAndSort)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
