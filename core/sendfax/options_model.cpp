#include "core/sendfax/options_model.h"

namespace korvo::sendfax {
namespace {

constexpr int64_t kQuarterHour = 900;
constexpr int64_t kDay = 86400;
constexpr int64_t kHour = 3600;

int64_t RoundUp(int64_t t, int64_t step) { return (t + step - 1) / step * step; }

}  // namespace

std::vector<SendTimeEntry> SendTimes(int64_t now) {
  std::vector<SendTimeEntry> out{{"NOW", now}};
  const int64_t start = RoundUp(now, kQuarterHour);
  const int64_t end = RoundUp(start, kDay) - kHour;
  for (int64_t t = start; t < end; t += kQuarterHour) out.push_back({FormatLocalTime(t), t});
  return out;
}

OptionsModel::OptionsModel(SendFaxJob& job, int64_t now)
    : subject(job.subject), server(job.server), highPriority(job.highPriority), keepSentFax(job.keepSentFax),
      preview(job.preview), saferDialing(job.saferDialing), sendCoverPage(job.sendCoverPage), sendTime(job.sendTime),
      sendTimeText(job.sendTimeText), job_(job), times_(SendTimes(now)) {
  {
    std::lock_guard lock(job.serverNamesLock);
    serverNames_ = job.serverNames;
  }
  for (size_t i = 0; i < times_.size(); ++i)
    if (times_[i].text == sendTimeText) {
      selected_ = static_cast<int>(i);
      break;
    }
}

void OptionsModel::Select(int index) {
  if (index < 0 || index >= static_cast<int>(times_.size())) return;
  selected_ = index;
  sendTime = times_[static_cast<size_t>(index)].time;
  sendTimeText = times_[static_cast<size_t>(index)].text;
}

void OptionsModel::Apply() {
  job_.subject = subject;
  job_.highPriority = highPriority;
  job_.preview = preview;
  job_.keepSentFax = keepSentFax;
  job_.sendTime = static_cast<int32_t>(sendTime);
  job_.sendTimeText = sendTimeText;
  job_.saferDialing = saferDialing;
  job_.sendCoverPage = sendCoverPage;
  job_.server = server;
}

}  // namespace korvo::sendfax
