#include "extractor/extract.h"

#include <filesystem>
#include <fstream>
#include "extractor/like.h"
#include "extractor/line_reader.h"
#include "extractor/listed_numbers.h"
#include "extractor/numbers.h"

namespace korvo::numsnip {
namespace {

// The runtime's "<" format: only A-Z change, every other byte stays.
void LowerAscii(std::string& s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

ExtractResult Failed(ExtractResult result, std::string why) {
  result.ok = false;
  result.error = std::move(why);
  return result;
}

}  // namespace

std::string BoxText(const std::vector<std::string>& numbers) {
  std::string text;
  for (const auto& n : numbers) text.append(n).append("\r\n");
  return text;
}

std::string ProgressText(size_t count) { return "Extracted " + std::to_string(count) + " fax numbers"; }

ExtractResult Extract(const ExtractOptions& options, const FoundNumber& found, const std::atomic<bool>* stop) {
  ExtractResult result;
  // Writing the numbers over the input would destroy the text they came from.
  if (SameFile(options.input, options.output)) return Failed(result, "the output is the input file");
  std::error_code ec;
  if (std::filesystem::is_directory(options.input, ec)) return Failed(result, "the input is a folder");
  std::ifstream in(options.input, std::ios::binary);
  if (!in.is_open()) return Failed(result, "the input cannot be opened");

  ListedNumbers listed(options.areaCodesOnly);
  std::string current, line;
  LineReader reader(in);
  while (reader.Next(line)) {
    if (stop && *stop) {
      result.stopped = true;
      return result;
    }
    LowerAscii(line);
    if (options.allNumbersAreFax || Like(line, "*fax*")) current = ExtraKorvoNumber(line, options.areaCodesOnly);
    // A number is new unless the box holds it already, also inside a longer
    // one; a line without one adds nothing.
    if (!current.empty() && !listed.Contains(current)) {
      listed.Add(current);
      result.numbers.push_back(current);
      if (found) found(current, result.numbers.size());
    }
  }
  if (reader.failed()) return Failed(result, "the input cannot be read");
  in.close();
  if (stop && *stop) {
    result.stopped = true;
    return result;
  }

  std::ofstream out(options.output, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) return Failed(result, "the output cannot be created");
  std::string text = BoxText(result.numbers);
  out.write(text.data(), std::streamsize(text.size()));
  out.close();
  if (!out) return Failed(result, "the output cannot be written");
  result.ok = true;
  return result;
}

ExtractJob::~ExtractJob() {
  Stop();
  Wait();
}

bool ExtractJob::Start(ExtractOptions options, FoundNumber found, Done done) {
  if (running_) return false;
  Wait();  // the thread of the run before, already past its end
  stop_ = false;
  running_ = true;
  worker_ = std::thread([this, options = std::move(options), found = std::move(found), done = std::move(done)] {
    ExtractResult result = Extract(options, found, &stop_);
    if (done) done(result);
    running_ = false;
  });
  return true;
}

void ExtractJob::Stop() { stop_ = true; }

void ExtractJob::Wait() {
  if (worker_.joinable()) worker_.join();
}

}  // namespace korvo::numsnip
