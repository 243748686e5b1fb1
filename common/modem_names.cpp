// The names shown for the modem settings and the commands built from them.
#include <array>

#include "common/modem_record.h"

namespace korvo {

namespace {

template <std::size_t N>
std::string Pick(const std::array<const char*, N>& table, int32_t index) {
  return InRange(index, 0, static_cast<int32_t>(N) - 1) ? table[static_cast<std::size_t>(index)] : "";
}

constexpr std::array<const char*, 3> kUsage = {"Send", "Receive", "Both"};
constexpr std::array<const char*, 7> kPortSpeedNames = {"2400", "4800", "9600", "19200", "38400", "57600", "115200"};
constexpr std::array<int32_t, 7> kPortSpeeds = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr std::array<const char*, 6> kFaxSpeeds = {"2400", "4800", "7200", "9600", "12000", "14400"};
constexpr std::array<const char*, 4> kCallWaiting = {"None", "*70", "70#", "1170"};
constexpr std::array<const char*, 4> kCallWaitingCommands = {"", "ATD *70", "ATD 70#", "ATD 1170"};
constexpr std::array<const char*, 4> kCallWaitingCommandsFlag = {"", "ATD *71", "ATD 71#", "ATD 1171"};
constexpr std::array<const char*, 3> kVolumes = {"Low", "Medium", "High"};
constexpr std::array<const char*, 4> kModes = {"Always off", "On until carrier", "Always on",
                                               "On after dialing until carrier"};
constexpr std::array<const char*, 3> kVolumeCodes = {"L1", "L2", "L3"};
constexpr std::array<const char*, 4> kModeCodes = {"M0", "M1", "M2", "M3"};

}  // namespace

std::string ModemRecord::GetModemUsageName() const { return Pick(kUsage, usage); }
std::string ModemRecord::GetPortSpeedName() const { return Pick(kPortSpeedNames, portSpeed); }

int32_t ModemRecord::GetPortSpeedValue() const {
  return InRange(portSpeed, 0, 6) ? kPortSpeeds[static_cast<std::size_t>(portSpeed)] : 3;
}

std::string ModemRecord::GetFaxSpeedName() const { return Pick(kFaxSpeeds, faxSpeed); }
std::string ModemRecord::GetCallWaitingName() const { return Pick(kCallWaiting, callWaiting); }

std::string ModemRecord::GetCallWaitingCommand(bool flag) const {
  return Pick(flag ? kCallWaitingCommandsFlag : kCallWaitingCommands, callWaiting);
}

std::string ModemRecord::GetSpeakerVolumeName() const { return Pick(kVolumes, speakerVolume); }
std::string ModemRecord::GetSpeakerModeName() const { return Pick(kModes, speakerMode); }

std::string ModemRecord::BuildSpeakerCommand() const {
  return "AT" + Pick(kVolumeCodes, speakerVolume) + Pick(kModeCodes, speakerMode);
}

}  // namespace korvo
