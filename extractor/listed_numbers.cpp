#include "extractor/listed_numbers.h"

#include <algorithm>

#include "extractor/numbers.h"

namespace korvo::numsnip {
namespace {

// Above this many parts a number goes into the automaton, which keeps the work
// per number linear where the parts grow with the square of its forms.
constexpr size_t kMaxParts = 64;

}  // namespace

bool ListedNumbers::Contains(std::string_view number) const {
  return parts_.count(number) > 0 || (!states_.empty() && InAutomaton(number));
}

void ListedNumbers::Add(std::string number) {
  const std::string& stored = numbers_.emplace_back(std::move(number));
  std::string_view text = stored;
  std::vector<size_t> begins, ends;
  for (size_t at = 0; at < text.size(); ++at) {
    // Every form begins with a digit or "(" and ends with a digit.
    const bool digit = text[at] >= '0' && text[at] <= '9';
    if ((digit || text[at] == '(') && FormBeginsAt(text, at, areaCodesOnly_)) begins.push_back(at);
    if (digit && FormEndsAt(text, at + 1, areaCodesOnly_)) ends.push_back(at + 1);
  }
  size_t parts = 0;
  for (size_t b : begins)
    parts += size_t(ends.end() - std::upper_bound(ends.begin(), ends.end(), b));
  if (parts > kMaxParts) {
    AddToAutomaton(text);
    return;
  }
  for (size_t b : begins)
    for (size_t e : ends)
      if (e > b) parts_.insert(text.substr(b, e - b));
}

int32_t ListedNumbers::Next(int32_t state, unsigned char c) const {
  for (int32_t e = states_[size_t(state)].edges; e >= 0; e = edges_[size_t(e)].next)
    if (edges_[size_t(e)].c == c) return edges_[size_t(e)].to;
  return -1;
}

void ListedNumbers::SetNext(int32_t state, unsigned char c, int32_t to) {
  for (int32_t e = states_[size_t(state)].edges; e >= 0; e = edges_[size_t(e)].next)
    if (edges_[size_t(e)].c == c) {
      edges_[size_t(e)].to = to;
      return;
    }
  edges_.push_back({to, states_[size_t(state)].edges, c});
  states_[size_t(state)].edges = int32_t(edges_.size() - 1);
}

bool ListedNumbers::InAutomaton(std::string_view text) const {
  int32_t state = 0;
  for (char c : text)
    if ((state = Next(state, static_cast<unsigned char>(c))) < 0) return false;
  return true;
}

// The classic online construction; each number is followed by a line end,
// which no number holds, so no match runs from one into the next.
void ListedNumbers::AddToAutomaton(std::string_view text) {
  if (states_.empty()) states_.emplace_back();
  auto extend = [this](unsigned char c) {
    const auto current = int32_t(states_.size());
    states_.push_back({states_[size_t(last_)].length + 1, -1, -1});
    int32_t p = last_;
    for (; p >= 0 && Next(p, c) < 0; p = states_[size_t(p)].link) SetNext(p, c, current);
    if (p < 0) {
      states_[size_t(current)].link = 0;
    } else if (const int32_t q = Next(p, c); states_[size_t(p)].length + 1 == states_[size_t(q)].length) {
      states_[size_t(current)].link = q;
    } else {
      const auto clone = int32_t(states_.size());
      states_.push_back({states_[size_t(p)].length + 1, states_[size_t(q)].link, -1});
      for (int32_t e = states_[size_t(q)].edges; e >= 0; e = edges_[size_t(e)].next)
        SetNext(clone, edges_[size_t(e)].c, edges_[size_t(e)].to);
      for (; p >= 0 && Next(p, c) == q; p = states_[size_t(p)].link) SetNext(p, c, clone);
      states_[size_t(q)].link = clone;
      states_[size_t(current)].link = clone;
    }
    last_ = current;
  };
  for (char c : text) extend(static_cast<unsigned char>(c));
  extend('\n');
}

}  // namespace korvo::numsnip
