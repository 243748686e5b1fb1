// The numbers already in Numsnip's box, searched as its text: a number is
// listed when the box contains it anywhere, also inside a longer number.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace korvo::numsnip {

// Each test and each addition costs time in proportion to the number's length,
// so a run over a large file stays linear. A number never holds a line end, so
// the box's text holds a number only inside one listed number. A number begins
// and ends with a form, so only the parts of a listed number that do too can
// hold one: these are kept in a set. A listed number with many such parts (one
// line of many numbers) goes instead into a suffix automaton of those numbers.
class ListedNumbers {
 public:
  explicit ListedNumbers(bool areaCodesOnly) : areaCodesOnly_(areaCodesOnly) {}

  bool Contains(std::string_view number) const;
  void Add(std::string number);

 private:
  void AddToAutomaton(std::string_view text);
  bool InAutomaton(std::string_view text) const;

  bool areaCodesOnly_;
  std::deque<std::string> numbers_;              // stable storage for the views below
  std::unordered_set<std::string_view> parts_;   // parts beginning and ending with a form

  // The automaton: states with their edges as lists in one array, about 50
  // bytes for each character of the crowded numbers.
  struct State {
    uint32_t length = 0;
    int32_t link = -1;
    int32_t edges = -1;  // the first of its edges, -1 for none
  };
  struct Edge {
    int32_t to;
    int32_t next;  // the state's next edge
    unsigned char c;
  };
  int32_t Next(int32_t state, unsigned char c) const;
  void SetNext(int32_t state, unsigned char c, int32_t to);
  std::vector<State> states_;  // empty until a crowded number comes
  std::vector<Edge> edges_;
  int32_t last_ = 0;
};

}  // namespace korvo::numsnip
