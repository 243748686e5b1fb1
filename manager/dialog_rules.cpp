#include "manager/dialog_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "manager/list_model.h"

namespace korvo::manager {

IntegerEntry ParseIntegerEntry(const std::string& text, int low, int high) {
  const std::string notANumber = "Please enter an integer.";
  size_t i = 0, end = text.size();
  while (i < end && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  while (end > i && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == end) return {std::nullopt, notANumber};
  int64_t value = 0;
  for (; i < end; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return {std::nullopt, notANumber};
    // Saturates: a long run of digits is out of range, not wrapped into it.
    value = std::min<int64_t>(value * 10 + (text[i] - '0'), INT64_C(1) << 40);
  }
  if (negative) value = -value;
  if (value < low || value > high)
    return {std::nullopt,
            "Please enter an integer between " + std::to_string(low) + " and " + std::to_string(high) + "."};
  return {static_cast<int>(value), ""};
}

IntegerEntry ParseRefreshInterval(const std::string& text) {
  return ParseIntegerEntry(text, ListModel::kMinInterval, ListModel::kMaxInterval);
}

}  // namespace korvo::manager
