// The records of a fax page stream as a reader sees them, to check what the
// filter wrote: the words between pages, and per page its lines (blank runs
// counted as Prn2Tiff counts them) and the line records' lengths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvo::test {

struct StreamPage {
  uint32_t lines = 0;
  uint32_t blankRuns = 0;
  std::vector<uint16_t> lineLengths;  // every "BL" length seen
};

struct StreamRecords {
  std::vector<std::string> words;  // between pages, in order ("BP" included)
  std::vector<StreamPage> pages;
  bool complete = false;  // ended with "ED" exactly at the end
};

inline StreamRecords ReadStreamRecords(const std::string& s) {
  StreamRecords r;
  size_t at = 0;
  auto word = [&]() -> std::string {
    if (at + 2 > s.size()) return "";
    at += 2;
    return s.substr(at - 2, 2);
  };
  for (std::string w = word(); !w.empty(); w = word()) {
    r.words.push_back(w);
    if (w == "ED") {
      r.complete = at == s.size();
      break;
    }
    if (w != "BP") continue;
    StreamPage page;
    bool afterLine = false;
    for (std::string p = word(); !p.empty() && p != "EP"; p = word()) {
      if (p == "CF" && at < s.size()) {
        const uint32_t n = static_cast<uint8_t>(s[at++]);
        if (n > 0) {
          page.lines += afterLine ? n - 1 : n;
          afterLine = false;
          ++page.blankRuns;
        }
      } else if (p == "BL" && at + 2 <= s.size()) {
        const uint16_t len = static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8;
        at += 2 + len;
        page.lineLengths.push_back(len);
        ++page.lines;
        afterLine = true;
      }
    }
    r.pages.push_back(page);
  }
  return r;
}

}  // namespace korvo::test
