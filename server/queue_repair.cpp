// Start-up: the saved queue loaded, its counters raised above every id
// given before, and the Temp folder repaired.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include "common/tiff_reader.h"
#include "platform/durable_file.h"
#include "platform/file_io.h"
#include "server/fax_session.h"
#include "server/faxserver.h"
#include "server/journal.h"
#include "server/queue.h"
#include "server/queue_internal.h"
#include "server/syslog.h"
#include "server/trace.h"

namespace korvo {

using queue_detail::ReplayLog;

namespace {

// Files of this run are younger: what start-up repair leaves alone.
const std::filesystem::file_time_type kRunStart = std::filesystem::file_time_type::clock::now();

// A name beside path for a damaged copy that no other copy has taken.
std::string KeptName(const std::string& path) {
  std::string kept = path + ".damaged";
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(kept, ec); ++n) kept = path + ".damaged." + std::to_string(n);
  return kept;
}

}  // namespace

void Queue::Load() {
  images_.clear();
  imageIndex_.clear();
  jobs_.clear();
  imageCounter_ = jobCounter_ = 0;
  logPath_ = LogPath(config_.listPath);
  // The log first: what a full save took from it is then in the list.
  std::string log, bytes;
  std::error_code ec;
  if (std::filesystem::exists(logPath_, ec) && !platform::ReadWholeFile(logPath_, log)) {
    DebugTrace("Queue log unreadable: %s\n", logPath_.c_str());
    KeepDamagedLog(nullptr);
    log.clear();
  }
  const bool present = std::filesystem::exists(config_.listPath, ec);
  if (present && (!platform::ReadWholeFile(config_.listPath, bytes) ||
                  !Decode(bytes, &imageCounter_, &jobCounter_, &images_, &jobs_))) {
    KeepDamagedList();
    images_.clear();
    jobs_.clear();
    imageCounter_ = jobCounter_ = 0;
  }
  listBytes_ = bytes.size();
  // Submissions acknowledged after the last full save; the next save takes
  // them (and drops whatever a crash cut short) into the list.
  const auto replay = ReplayLog(log, imageCounter_, &imageCounter_, &jobCounter_, &images_, &jobs_);
  if (replay.added) DebugTrace("Queue log: %d submission(s) taken from %s\n", replay.added, logPath_.c_str());
  if (!replay.damaged.empty()) {
    if (g_SysLog)
      for (const auto& [at, length] : replay.damaged)
        g_SysLog->Error("Queue log %s is damaged at byte %zu: %zu byte(s) passed over", logPath_.c_str(), at, length);
    KeepDamagedLog(&log);
  }
  fullSaveWanted_ = std::filesystem::exists(logPath_, ec);
  // Ids are never given twice: the journal refuses a job id it holds, and
  // a list lost or damaged would otherwise start them again at 1.
  RaiseCountersAboveKnownIds();
  for (auto& image : images_) imageIndex_[image.id] = &image;
  // No port holds a job after a restart: what was being sent is queued again.
  // Nor does any client: a download cut off by the restart must not leave
  // its fax locked for good.
  for (auto& job : jobs_) {
    job.sending = 0;
    job.checkedOut = 0;
    if (JobState::IsActive(job.state)) job.state = JobState::Queued;
  }
}

void Queue::KeepDamagedList() {
  std::string kept = KeptName(config_.listPath);
  std::error_code ec;
  std::filesystem::rename(config_.listPath, kept, ec);
  if (ec) kept.clear();
  DebugTrace("Queue list unreadable, starting empty: %s\n", config_.listPath.c_str());
  if (g_SysLog)
    g_SysLog->Error("Queue list %s is damaged, the queue starts empty; %s%s", config_.listPath.c_str(),
                    kept.empty() ? "the file could not be kept" : "kept as ", kept.c_str());
}

void Queue::KeepDamagedLog(const std::string* bytes) {
  // The next full save removes the log: its damaged records, and the
  // submissions they may hold, must outlive it. A log that was read is
  // copied (it is still replayed should this start not get as far as a
  // save); one that cannot be read is moved aside whole.
  std::string kept = KeptName(logPath_);
  std::error_code ec;
  if (bytes ? !platform::ReplaceFileDurably(kept, *bytes) : (std::filesystem::rename(logPath_, kept, ec), bool(ec)))
    kept.clear();
  if (g_SysLog)
    g_SysLog->Error("Queue log %s %s; %s%s", logPath_.c_str(),
                    bytes ? "holds damaged records, its intact records are queued again" : "cannot be read",
                    kept.empty() ? "the file could not be kept" : "kept as ", kept.c_str());
}

void Queue::RaiseCountersAboveKnownIds() {
  uint32_t jobId = 0, imageId = 0;
  if (g_Journal) g_Journal->HighestIds(&jobId, &imageId);
  imageCounter_ = std::max(imageCounter_, imageId);
  jobCounter_ = std::max(jobCounter_, jobId);
  // The counters at the head of every list in the queue folder, damaged
  // ones included (their heads usually survive a cut).
  const std::filesystem::path list(config_.listPath);
  const std::string name = list.filename().string();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(list.parent_path(), ec)) {
    if (entry.path().filename().string().rfind(name, 0) != 0) continue;
    std::FILE* file = std::fopen(entry.path().c_str(), "rb");
    if (!file) continue;
    uint8_t head[8];
    if (std::fread(head, 1, sizeof head, file) == sizeof head) {
      const uint32_t images = head[0] | head[1] << 8 | head[2] << 16 | static_cast<uint32_t>(head[3]) << 24;
      const uint32_t jobs = head[4] | head[5] << 8 | head[6] << 16 | static_cast<uint32_t>(head[7]) << 24;
      // A value near the top is damage, not a count: it would wrap at once.
      if (images < 0x80000000u) imageCounter_ = std::max(imageCounter_, images);
      if (jobs < 0x80000000u) jobCounter_ = std::max(jobCounter_, jobs);
    }
    std::fclose(file);
  }
  for (const auto& image : images_) imageCounter_ = std::max(imageCounter_, image.id);
  for (const auto& job : jobs_) jobCounter_ = std::max(jobCounter_, job.jobId);
}

void Queue::RepairTemp() {
  if (config_.tempDir.empty()) return;
  namespace fs = std::filesystem;
  std::set<std::string> used;
  auto key = [](const std::string& path) {
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(path, ec);
    return ec ? path : canonical.string();
  };
  for (const auto& image : images_) used.insert(key(image.path));
  for (const auto& job : jobs_)
    if (!job.coverPath.empty()) used.insert(key(job.coverPath));
  std::vector<std::string> received, unused;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(config_.tempDir, ec)) {
    const std::string name = entry.path().filename().string();
    // Only the server's own temporary files, and only those of an earlier
    // run: a reception of this run may be writing its file already.
    if (!entry.is_regular_file(ec) || name.size() < 4 || name.compare(name.size() - 4, 4, ".TMP") != 0) continue;
    if (entry.last_write_time(ec) >= kRunStart || ec) continue;
    if (used.count(key(entry.path().string()))) continue;
    if (name.rfind("REC", 0) == 0 && CountTiffPages(entry.path().string()) > 0)
      received.push_back(entry.path().string());
    else
      unused.push_back(entry.path().string());
  }
  int filed = 0;
  for (const auto& path : received) {
    // Whether its call ended well is not known: the dispatchers see it as
    // partially received.
    FaxHeader header = ReceivedFaxHeader("");
    header.subject = "<Partially received Fax>";
    if (InsertFax(path.c_str(), header, kKindReceived, 0, JobState::PartiallyReceived) == 1)
      ++filed;
    else
      unused.push_back(path);
  }
  // A file no job names may still be an acknowledged fax (a damaged list
  // or log lost its job): it is moved aside for an administrator, never
  // deleted. Only an empty file, which holds nothing, goes.
  const fs::path kept = fs::path(config_.tempDir).parent_path() / kKeptFolder;
  int removed = 0, moved = 0, stay = 0;
  for (const auto& path : unused) {
    if (fs::file_size(path, ec) == 0 && !ec) {
      removed += platform::DeleteFileByName(path.c_str()) ? 1 : 0;
      continue;
    }
    if (!fs::is_directory(kept, ec)) {
      fs::create_directory(kept, ec);
      fs::permissions(kept, fs::perms::owner_all, ec);
    }
    const std::string name = fs::path(path).filename().string();
    fs::path to = kept / name;
    for (int n = 2; fs::exists(to, ec); ++n) to = kept / (name + "." + std::to_string(n));
    fs::rename(path, to, ec);
    if (ec)
      ++stay;
    else
      ++moved;
  }
  if (moved || stay) platform::SyncFolder(kept.string());
  if ((filed || removed) && g_SysLog)
    g_SysLog->Info("Start-up repair of %s: %d received fax(es) filed, %d unused temporary file(s) removed",
                   config_.tempDir.c_str(), filed, removed);
  if (moved && g_SysLog)
    g_SysLog->Error("Start-up repair of %s: %d file(s) that no queued fax names moved to %s", config_.tempDir.c_str(),
                    moved, kept.c_str());
  if (stay && g_SysLog)
    g_SysLog->Error("Start-up repair of %s: %d file(s) that no queued fax names could not be moved to %s and stay",
                    config_.tempDir.c_str(), stay, kept.c_str());
}

}  // namespace korvo
