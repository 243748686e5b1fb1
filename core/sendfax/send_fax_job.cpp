#include "core/sendfax/send_fax_job.h"

#include <ctime>

namespace korvo::sendfax {

std::string FormatLocalTime(int64_t time, const char* format) {
  std::time_t t = static_cast<std::time_t>(time);
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[128] = {};
  std::strftime(text, sizeof text, format, &tm);
  return text;
}

}  // namespace korvo::sendfax
