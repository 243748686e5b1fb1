#include "common/fields.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace korvo {

namespace {

// The field mark inside a field (text a user typed) would move every later
// value into the next field; it goes out as a blank.
void AppendField(std::string& out, const std::string& field) {
  const std::size_t start = out.size();
  out.append(field);
  std::replace(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), kFieldEnd, ' ');
  out.push_back(kFieldEnd);
}

}  // namespace

int EncodeFields(std::string* out, const std::vector<std::string>& fields, int count) {
  if (!out) return count;
  out->clear();
  for (int i = 0; i < count; ++i)
    AppendField(*out, static_cast<std::size_t>(i) < fields.size() ? fields[static_cast<std::size_t>(i)] : std::string());
  return count;
}

int DecodeFields(std::string_view text, std::vector<std::string>& fields) {
  int taken = 0;
  std::size_t pos = 0;
  for (auto& field : fields) {
    if (pos >= text.size()) {
      field.clear();
      continue;
    }
    std::size_t end = text.find(kFieldEnd, pos);
    if (end == std::string_view::npos) end = text.size();
    field.assign(text.substr(pos, end - pos));
    pos = end < text.size() ? end + 1 : end;
    ++taken;
  }
  return taken;
}

int DecodeFields(const char* text, std::vector<std::string>& fields) {
  if (!text) {
    for (auto& field : fields) field.clear();
    return 0;
  }
  return DecodeFields(std::string_view(text, std::strlen(text)), fields);
}

void EncodeStringList(const std::vector<std::string>& list, std::string& out) {
  out.clear();
  for (const auto& s : list) AppendField(out, s);
}

int DecodeStringList(std::vector<std::string>& list, std::string_view text, int count) {
  if (count <= 0) return 0;
  std::vector<std::string> fields(static_cast<std::size_t>(count));
  DecodeFields(text, fields);
  for (auto& f : fields) list.push_back(std::move(f));
  return count;
}

namespace {

// Sign and magnitude of the leading number, the magnitude saturated at 2^63.
struct Number {
  bool negative = false;
  uint64_t magnitude = 0;
};

Number ReadNumber(std::string_view text) {
  Number n;
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) n.negative = text[i++] == '-';
  constexpr uint64_t kCap = uint64_t{1} << 63;
  // Checked before multiplying, so that a long number stays at the cap
  // rather than wrapping round to a small value.
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<uint64_t>(text[i] - '0');
    n.magnitude = n.magnitude > (kCap - digit) / 10 ? kCap : n.magnitude * 10 + digit;
  }
  return n;
}

}  // namespace

int32_t ParseDecimal(std::string_view text) {
  const Number n = ReadNumber(text);
  constexpr uint64_t kMax = std::numeric_limits<int32_t>::max();
  if (n.negative) {
    return n.magnitude > kMax + 1 ? std::numeric_limits<int32_t>::min()
                                  : static_cast<int32_t>(-static_cast<int64_t>(n.magnitude));
  }
  return n.magnitude > kMax ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(n.magnitude);
}

uint32_t ParseUnsignedDecimal(std::string_view text) {
  const Number n = ReadNumber(text);
  constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
  if (n.magnitude > kMax) return std::numeric_limits<uint32_t>::max();
  const auto v = static_cast<uint32_t>(n.magnitude);
  return n.negative ? 0u - v : v;
}

}  // namespace korvo
