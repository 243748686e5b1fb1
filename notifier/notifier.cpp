#include "notifier/notifier.h"

#include <cstdio>

#include "common/faxclient.h"
#include "common/fields.h"
#include "common/stream.h"
#include "common/utf8_cut.h"
#include "platform/file_io.h"

namespace korvo::notifier {

namespace {

constexpr int kRightUser = 2;
constexpr int kRightDispatcher = 8;
constexpr uint32_t kUnknownSize = 0xFFFFFFFF;

int Index(ListKind kind) { return static_cast<int>(kind); }

std::string Format(const char* format, const std::string& text) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, text.c_str());
  return buffer;
}

// The whole reply, read through the handle it was written with.
bool ReadAll(Stream& file, std::string& text, uint64_t& size) {
  const platform::Handle h = file.GetHandle();
  if (!platform::HandleSize(h, &size)) return false;
  if (platform::SeekHandle(h, 0, platform::kSeekBegin) != 0) return false;
  text.clear();
  char buffer[4096];
  for (;;) {
    uint32_t done = 0;
    bool truncated = false;
    if (!platform::ReadHandle(h, false, buffer, sizeof buffer, &done, &truncated) || done == 0) break;
    text.append(buffer, done);
  }
  return true;
}

}  // namespace

uint32_t RequestCode(ListKind kind) {
  switch (kind) {
    case ListKind::DispatchBox: return 5010;
    case ListKind::InBox: return 5026;
    case ListKind::Returned: return 5030;
  }
  return 0;
}

uint32_t CountListLines(std::string_view text) {
  uint32_t lines = 0;
  bool pending = false;  // bytes of a line not yet ended
  for (char c : text) {
    if (c == '\n') {
      ++lines;
      pending = false;
    } else if (c != '\r') {
      pending = true;
    }
  }
  return lines + (pending ? 1 : 0);
}

std::string LimitText(std::string_view text) {
  return std::string(Utf8Cut(text, kTextLimit));
}

Notifier::Notifier(NotifyOptions options, std::string dataPath)
    : options_(std::move(options)), dataPath_(std::move(dataPath)) {
  ResetLines();
}

void Notifier::ResetLines() {
  line1_ = Format("Server %s:", options_.serverName);
  line2_ = "No messages.";
}

TickResult Notifier::Tick() {
  TickResult result;
  seconds_ += kTickMs / 1000;
  if (seconds_ >= options_.PollMinutes() * 60) {
    seconds_ = 0;
    result.polled = true;
    uint32_t bits = 0;
    // Without a server, or when the server does not answer, nothing is checked.
    if (!options_.serverName.empty() && client_.GetPermissions(options_.serverName.c_str(), bits).status == 0) {
      rights_ = bits;
      const bool wanted = (options_.eventMask & NotifyOptions::kDefaultMask) != 0;
      if ((bits & kRightDispatcher) && wanted) Check(ListKind::DispatchBox);
      if ((bits & kRightUser) && wanted) {
        Check(ListKind::InBox);
        Check(ListKind::Returned);
      }
    }
    result.beep = newMessage_ && options_.sound;
  }
  if (newMessage_) {
    result.alert = true;
    result.trayIcon = trayToggle_ == 1 ? kIconAlert : kIconNormal;
    trayToggle_ = !trayToggle_;
    if (messageOpen_)
      result.updateMessage = true;
    else
      result.openMessage = true;
    result.messageIcon = ShowMessage();
  }
  return result;
}

bool Notifier::Check(ListKind kind) {
  TextFile file;
  if (!FaxClient::MakeTempFile(dataPath_, "NTF", file)) return false;
  const std::string name = file.GetFileName();
  uint64_t size = 0;
  std::string text;
  bool raised = false;
  if (client_.DownloadList(options_.serverName.c_str(), RequestCode(kind), nullptr, FileRef(file)).status == 0 &&
      ReadAll(file, text, size)) {
    const uint32_t shown = size > kUnknownSize ? kUnknownSize : static_cast<uint32_t>(size);
    uint32_t& last = lastSize_[Index(kind)];
    if (shown != 0 && shown != kUnknownSize && shown != last) {
      last = shown;
      const uint32_t count = CountListLines(text);
      const std::string ending = count == 1 ? "" : "es";
      char buffer[128];
      switch (kind) {
        case ListKind::DispatchBox:
          line1_ = Format("Message from %s server to dispatchers:", options_.serverName);
          std::snprintf(buffer, sizeof buffer, "Server received %u new fax%s.", count, ending.c_str());
          break;
        case ListKind::InBox:
          line1_ = Format("Message from %s server:", options_.serverName);
          std::snprintf(buffer, sizeof buffer, "You have received %u new fax%s.", count, ending.c_str());
          break;
        case ListKind::Returned:
          line1_ = Format("Message from %s server:", options_.serverName);
          std::snprintf(buffer, sizeof buffer, "Server has %u returning fax%s for you.", count, ending.c_str());
          break;
      }
      line2_ = buffer;
      newMessage_ = true;
      raised = true;
    }
  }
  file.Close();
  FaxClient::DeleteTempFile(name);
  return raised;
}

int Notifier::ShowMessage() {
  messageOpen_ = true;
  const int icon = windowToggle_ ? kIconAlert : kIconNormal;
  windowToggle_ = !windowToggle_;
  return icon;
}

void Notifier::MessageClosed() {
  messageOpen_ = false;
  newMessage_ = false;
  ResetLines();
}

bool Notifier::Exit() { return ++exitPasses_ >= 2; }

const std::vector<std::string>& Notifier::IntervalChoices() {
  static const std::vector<std::string> choices = {"1", "2", "3", "4", "5", "10", "20", "30", "45", "60"};
  return choices;
}

int Notifier::IntervalSelection(int interval) {
  const std::string text = std::to_string(interval);
  const auto& choices = IntervalChoices();
  for (size_t i = 0; i < choices.size(); ++i)
    if (choices[i].starts_with(text)) return static_cast<int>(i);
  return -1;
}

void Notifier::ConfigureOpened() {
  NotifyOptions fresh;
  fresh.Load();
  options_ = fresh;
}

bool Notifier::ConfigureOk(const std::string& intervalText, bool sound) {
  if (!intervalText.empty()) options_.interval = ParseDecimal(intervalText);
  options_.sound = sound;
  return options_.Save();
}

std::string Notifier::ConfigureTitle() const {
  return Format("Korvo Notifier Configure (Server=%s)", options_.serverName);
}

std::string Notifier::MessageTitle() const { return Format("Korvo Notifier Message (Server=%s)", options_.serverName); }

}  // namespace korvo::notifier
