// The work of Numsnip without its window: Extract over a text file, the texts
// the window shows and the rule that enables its Extract button.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace korvo::numsnip {

inline constexpr char kCaption[] = "Numsnip";
inline constexpr char kErrorText[] = "There was an error!";

struct ExtractOptions {
  std::string input;              // Text1
  std::string output;             // Text2
  bool allNumbersAreFax = false;  // Check1: every line is of interest, not only those with "fax"
  bool areaCodesOnly = false;     // Check2: only the forms with an area code
};

struct ExtractResult {
  bool ok = false;       // else the window shows kErrorText
  bool stopped = false;  // stopped before the end: nothing was written
  std::vector<std::string> numbers;  // in the order found, none inside one before it
  std::string error;                 // what went wrong, when not ok
};

// The box's text, which is also the output file: each number followed by CR LF.
std::string BoxText(const std::vector<std::string>& numbers);
// The progress label after a run.
std::string ProgressText(size_t count);

// Called with each number as it is added and the count so far.
using FoundNumber = std::function<void(const std::string& number, size_t count)>;

// Reads the input line by line; each line is lower-cased (A-Z only) and, when
// of interest, cut down to its number, which is added unless it is empty or
// the box's text already holds it (also inside a longer number). Then the box's text is written to the output. An output that
// is the input file (by any path) is refused before anything is read. `stop`,
// when set, ends the run at the next line without writing anything.
ExtractResult Extract(const ExtractOptions& options, const FoundNumber& found = {},
                      const std::atomic<bool>* stop = nullptr);

// One Extract at a time on a worker thread, so the window stays responsive.
// The callbacks run on the worker thread.
class ExtractJob {
 public:
  using Done = std::function<void(const ExtractResult&)>;
  ExtractJob() = default;
  ~ExtractJob();  // stops the run and waits for it
  ExtractJob(const ExtractJob&) = delete;
  ExtractJob& operator=(const ExtractJob&) = delete;

  // False (and nothing started) while a run is going.
  bool Start(ExtractOptions options, FoundNumber found, Done done);
  // The run ends at its next line and writes nothing.
  void Stop();
  // Waits for the run's end.
  void Wait();
  // True from Start until Done has returned.
  bool Running() const { return running_; }

 private:
  std::thread worker_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
};

// The state behind the window's Extract button: a change of either file box
// enables it when that box is not empty and disables it when it is, and it
// stays disabled while a run is going.
class NumsnipForm {
 public:
  void BoxChanged(std::string_view text) { boxRule_ = !text.empty(); }
  void SetRunning(bool running) { running_ = running; }
  bool ExtractEnabled() const { return boxRule_ && !running_; }
  bool Running() const { return running_; }

 private:
  bool boxRule_ = false;  // both boxes start empty
  bool running_ = false;
};

}  // namespace korvo::numsnip
