#include "manager/list_formats.h"

#include <cctype>
#include <cstdio>
#include <ctime>

#include "common/utf8_cut.h"

namespace korvo::manager {

std::string FormatListDate(int64_t secondsSince1970) {
  const time_t t = static_cast<time_t>(secondsSince1970);
  tm local{};
  if (!localtime_r(&t, &local)) return {};
  const int hour = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
  char text[64];
  std::snprintf(text, sizeof text, "%d/%02d/%02d %d:%02d %s", local.tm_mon + 1, local.tm_mday, local.tm_year % 100,
                hour, local.tm_min, local.tm_hour < 12 ? "AM" : "PM");
  return text;
}

std::string FormatDuration(int64_t seconds) {
  char text[64];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%lld:%lld:%lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  else
    std::snprintf(text, sizeof text, "%lld:%lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  return text;
}

std::string CutToBytes(const std::string& text, size_t maxBytes) {
  return std::string(Utf8Cut(text, maxBytes));
}

int CompareNoCase(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int x = std::tolower(static_cast<unsigned char>(a[i]));
    const int y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x - y;
  }
  return CompareNumbers(static_cast<int64_t>(a.size()), static_cast<int64_t>(b.size()));
}

}  // namespace korvo::manager
