#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// One serial port as the system's serial-port key lists it, with where it lives on this machine.
struct PortInfo {
    int comNumber = 0;       // n of "COMn"
    std::string valueName;   // the key's value name, "\Device\Serial0", "\Device\Silabser0" ...
    std::string data;        // the value's data, "COMn"
    std::string deviceNode;  // "/dev/ttyUSB0", "/dev/pts/3" ...
    std::string driver;  // driver name as reported in valueName: "Serial", "Silabser", "USBSER" ...
    bool fromUserMap = false;  // registered in the user port map rather than found in sysfs
};

// The serial ports of the machine: the counterpart of the system's serial-port key and of its
// COM namespace.
class PortMap {
  public:
    virtual ~PortMap() = default;
    // Every port present now, in ascending COM number order.
    virtual std::vector<PortInfo> Scan() = 0;
    // The device node behind COMn, if there is such a port now.
    std::optional<std::string> DeviceNodeFor(int comNumber);
};

// An entry of the user port map: a port sysfs cannot show (pseudo-terminal, simulator, socat
// link), registered under a COM number of its choice.
struct UserPortEntry {
    int comNumber = 0;
    std::string deviceNode;
    std::string driver;  // empty: an ordinary port ("Serial"); "Silabser": the maker's adapter
    long ownerPid = 0;   // 0: no owner; otherwise the entry is stale once this process is gone
};

// The Linux port map: hardware ports from sysfs plus the user port map. Hardware ports are
// reported with the device node <devRoot>/<kernel name>; tests inject all three roots.
class PosixPortMap : public PortMap {
  public:
    PosixPortMap(std::filesystem::path sysfsRoot, std::filesystem::path userMapDir,
                 std::filesystem::path devRoot = "/dev");
    // Never throws: unreadable or odd sysfs and map content only leaves ports out.
    std::vector<PortInfo> Scan() override;

    // An entry file as last read, kept while the file stays the same, so that a scan every
    // two seconds reads only the entries that changed.
    struct CachedEntry {
        unsigned long long inode = 0;
        long long size = 0;
        long long changedNs = 0;  // last status change, nanoseconds
        long long modifiedNs = 0;
        std::optional<UserPortEntry> entry;  // empty: malformed
    };

  private:
    std::filesystem::path sysfsRoot_;
    std::filesystem::path userMapDir_;
    std::filesystem::path devRoot_;
    std::map<std::string, CachedEntry> entryCache_;
};

// Where the user port map lives when nothing else is said: $TALVINO_PORT_MAP if set and not
// empty, else $XDG_RUNTIME_DIR/talvino-ports, else /tmp/talvino-ports-<uid>. Read on every call.
std::filesystem::path DefaultUserMapDir();

// The port map of this machine: /sys, /dev and DefaultUserMapDir(), the latter looked up afresh
// at every scan so that a change of the environment is seen by the next scan.
PortMap& RealPortMap();

// Writing to the user port map (used by the simulator and by tests). RegisterUserPort creates
// the map directory (mode 0700) if need be and replaces the entry COMn atomically; it refuses
// a COM number below 1, a device node that is not an absolute path on one line, and a driver
// name other than letters, digits, '_' and '-'. UnregisterUserPort is true when the entry is
// gone afterwards (also when there was none).
bool RegisterUserPort(const std::filesystem::path& userMapDir, const UserPortEntry& entry,
                      std::string* error = nullptr);
bool UnregisterUserPort(const std::filesystem::path& userMapDir, int comNumber);

}  // namespace platform
