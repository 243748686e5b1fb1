#include "common/serverfinder.h"

#include <cctype>
#include <cstring>

#include "common/trace.h"

namespace korvo {

namespace {

constexpr int kPasses = 5;
constexpr size_t kEntryBufferSize = 512;
constexpr const char* kProviderPrefix = "Microsoft";

}  // namespace

ServerFinder::ServerFinder(std::vector<std::string>& list, std::mutex& lock)
    : list_(list), lock_(lock), own_(std::make_unique<platform::LanNeighbourhood>()), neighbourhood_(*own_) {}

ServerFinder::ServerFinder(std::vector<std::string>& list, std::mutex& lock, platform::Neighbourhood& neighbourhood)
    : list_(list), lock_(lock), neighbourhood_(neighbourhood) {}

ServerFinder::~ServerFinder() = default;

void ServerFinder::Stop() { stop_.store(true); }

bool ServerFinder::stopped() const { return stop_.load(); }

int ServerFinder::FindAll() {
  for (int pass = 0; pass < kPasses && !stopped(); ++pass) Walk(nullptr);
  return 0;
}

void ServerFinder::Walk(const platform::NetResource* resource) {
  auto enumeration = neighbourhood_.OpenEnum(resource);
  if (!enumeration) {
    DebugPrintLastError("WnetOpenEnum failed");
    return;
  }
  platform::NetResource entry;
  while (!stopped() && enumeration->Next(entry, kEntryBufferSize)) {
    if (!(entry.usage & platform::kResourceUsageContainer)) continue;
    if (entry.provider.compare(0, std::strlen(kProviderPrefix), kProviderPrefix) != 0) continue;
    if (entry.remoteName.rfind("\\\\", 0) == 0) {
      Probe(entry);
    } else {
      Walk(&entry);
    }
  }
  if (!enumeration->Close()) DebugPrintLastError("WNetCloseEnum failed");
}

void ServerFinder::Probe(const platform::NetResource& machine) {
  if (stopped()) return;
  auto connection = neighbourhood_.OpenServer(machine.remoteName + "\\PIPE\\Korvo");
  if (!connection) return;
  std::string name = machine.remoteName.substr(2);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (stopped()) return;
    if (!Contains(name)) list_.push_back(name);
  }
  // The connection closes here: the server sees a client that comes and goes.
}

bool ServerFinder::Contains(const std::string& name) const {
  for (const auto& s : list_) {
    if (s == name) return true;
  }
  return false;
}

}  // namespace korvo
