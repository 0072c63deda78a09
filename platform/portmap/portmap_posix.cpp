#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/portmap/PortMap.h"

namespace fs = std::filesystem;

namespace platform {

namespace {

// Environment variable naming the user port map directory (tests, simulator).
constexpr const char* kPortMapVariable = "TALVINO_PORT_MAP";
// Sub-directory of $XDG_RUNTIME_DIR holding the user port map.
constexpr const char* kRuntimeSubdir = "talvino-ports";
// Prefix of the fallback map directory under /tmp, followed by the user id.
constexpr const char* kTmpMapPrefix = "/tmp/talvino-ports-";
// Access mode of the map directory: the user's own, since an entry decides what COMn opens.
constexpr mode_t kMapDirMode = 0700;
// Access mode of an entry file.
constexpr mode_t kEntryMode = 0600;
// Largest sysfs attribute or map entry we read, in bytes; anything longer is not ours.
constexpr size_t kMaxSmallFile = 4096;

// First COM number of each kernel tty family, and how many ports a family range holds.
constexpr int kUartComBase = 1;         // ttyS<i>   -> COM(1 + i)
constexpr int kUsbSerialComBase = 101;  // ttyUSB<i> -> COM(101 + i)
constexpr int kAcmComBase = 201;        // ttyACM<i> -> COM(201 + i)
constexpr int kAmbaComBase = 301;       // ttyAMA<i> -> COM(301 + i)
constexpr int kFamilyRangeSize = 100;
// Other ttys: COM(1000 + major * 65536 + minor) from the device number, above every family.
constexpr int kDevNumberComBase = 1000;
constexpr long long kDevMinorSpan = 65536;
constexpr long long kMaxDevMajor = 4095;  // the kernel's device majors are 12 bits

// The serial core's `type` attribute for a port slot without a UART behind it.
constexpr std::string_view kPlaceholderUartType = "0";

// Driver names as the system's serial-port key reports them.
constexpr const char* kUartDriverName = "Serial";
constexpr const char* kMakerAdapterDriverName = "Silabser";
constexpr const char* kAcmDriverName = "USBSER";
constexpr const char* kFtdiDriverName = "VCP";
// Marks a user-registered port inside its value name, so it never meets a hardware name.
constexpr const char* kUserValueTag = "User";
constexpr const char* kValueNamePrefix = "\\Device\\";

// Keys of a user map entry file.
constexpr std::string_view kDeviceKey = "device";
constexpr std::string_view kDriverKey = "driver";
constexpr std::string_view kPidKey = "pid";

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

// Reads a small regular file whole. Never blocks on a FIFO or device planted in a map
// directory, and never follows more than kMaxSmallFile bytes.
std::optional<std::string> ReadSmallFile(const fs::path& path, bool followLink) {
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    FileDescriptor fd(::open(path.c_str(), flags));
    if (fd.Get() < 0) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    std::string text;
    char buffer[512];
    for (;;) {
        const ssize_t count = ::read(fd.Get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            return text;
        }
        text.append(buffer, static_cast<size_t>(count));
        if (text.size() > kMaxSmallFile) {
            return std::nullopt;
        }
    }
}

std::string_view Trim(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A plain decimal number without sign or leading zeros, up to `limit`.
std::optional<long long> ParseDecimal(std::string_view text, long long limit) {
    if (text.empty() || (text.size() > 1 && text.front() == '0')) {
        return std::nullopt;
    }
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
        if (value > limit) {
            return std::nullopt;
        }
    }
    return value;
}

// Index i of "<family><i>", or nothing when the name is of another family.
std::optional<int> FamilyIndex(std::string_view name, std::string_view family) {
    if (name.size() <= family.size() || name.substr(0, family.size()) != family) {
        return std::nullopt;
    }
    const auto index = ParseDecimal(name.substr(family.size()), kFamilyRangeSize - 1);
    if (!index) {
        return std::nullopt;
    }
    return static_cast<int>(*index);
}

// COM(1000 + major * 65536 + minor) from the sysfs `dev` attribute "major:minor".
std::optional<int> ComFromDevNumber(const fs::path& ttyDir) {
    const auto text = ReadSmallFile(ttyDir / "dev", true);
    if (!text) {
        return std::nullopt;
    }
    const std::string_view dev = Trim(*text);
    const size_t colon = dev.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto major = ParseDecimal(dev.substr(0, colon), kMaxDevMajor);
    const auto minor = ParseDecimal(dev.substr(colon + 1), kDevMinorSpan - 1);
    if (!major || !minor) {
        return std::nullopt;
    }
    return static_cast<int>(kDevNumberComBase + *major * kDevMinorSpan + *minor);
}

// The stateless COM number rule: kernel names of present ttys do not change when other
// devices come and go, so neither do the numbers.
std::optional<int> HardwareComNumber(const std::string& name, const fs::path& ttyDir) {
    static constexpr std::pair<std::string_view, int> kFamilies[] = {
        {"ttyS", kUartComBase},
        {"ttyUSB", kUsbSerialComBase},
        {"ttyACM", kAcmComBase},
        {"ttyAMA", kAmbaComBase},
    };
    for (const auto& [family, base] : kFamilies) {
        if (const auto index = FamilyIndex(name, family)) {
            return base + *index;
        }
    }
    return ComFromDevNumber(ttyDir);
}

bool IsPlaceholderUart(const fs::path& ttyDir) {
    const auto type = ReadSmallFile(ttyDir / "type", true);
    return type && Trim(*type) == kPlaceholderUartType;
}

// Keeps a driver name printable and free of anything that could merge it with its index.
std::string SanitizedDriverName(std::string_view driver) {
    std::string name;
    for (const char c : driver) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-';
        name += plain ? c : '_';
    }
    // "ch341" followed by index 0 must not read as "ch34" with index 10.
    if (!name.empty() && name.back() >= '0' && name.back() <= '9') {
        name += '_';
    }
    return name;
}

// Driver name to report and the index written after it in the value name. A UART keeps the
// PC's habit of Serial<n-1> for COMn; adapters count from the start of their family range.
std::pair<std::string, std::string> HardwareNaming(const std::string& ttyName,
                                                   const std::string& kernelDriver, int com) {
    const auto indexFrom = [com](int base) {
        return (com >= base && com < base + kFamilyRangeSize) ? com - base : com;
    };
    if (kernelDriver == "cdc_acm") {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%03d", indexFrom(kAcmComBase));
        return {kAcmDriverName, digits};
    }
    if (kernelDriver == "cp210x") {
        return {kMakerAdapterDriverName, std::to_string(indexFrom(kUsbSerialComBase))};
    }
    if (kernelDriver == "ftdi_sio") {
        return {kFtdiDriverName, std::to_string(indexFrom(kUsbSerialComBase))};
    }
    // The kernel's USB serial core names all its ttys ttyUSB; other ttys are UARTs.
    const std::string sanitized = SanitizedDriverName(kernelDriver);
    if (ttyName.starts_with("ttyUSB") && !sanitized.empty()) {
        return {sanitized, std::to_string(indexFrom(kUsbSerialComBase))};
    }
    return {kUartDriverName, std::to_string(com - kUartComBase)};
}

std::string ComData(int com) {
    return "COM" + std::to_string(com);
}

void ScanHardware(const fs::path& sysfsRoot, const fs::path& devRoot,
                  std::map<int, PortInfo>& ports) {
    std::error_code ec;
    fs::directory_iterator it(sysfsRoot / "class" / "tty", ec);
    std::vector<std::string> names;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    // Name order makes the survivor of a COM number clash (odd device numbers) deterministic.
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const fs::path ttyDir = sysfsRoot / "class" / "tty" / name;
        if (!fs::exists(ttyDir / "device", ec) || IsPlaceholderUart(ttyDir)) {
            continue;  // virtual consoles, ptmx, broken links, UART slots without a UART
        }
        const auto com = HardwareComNumber(name, ttyDir);
        if (!com || ports.count(*com) != 0) {
            continue;
        }
        const fs::path driverLink = fs::read_symlink(ttyDir / "device" / "driver", ec);
        const std::string kernelDriver = ec ? std::string() : driverLink.filename().string();
        auto [driver, index] = HardwareNaming(name, kernelDriver, *com);
        PortInfo port;
        port.comNumber = *com;
        port.valueName = kValueNamePrefix + driver + index;
        port.data = ComData(*com);
        port.deviceNode = (devRoot / name).string();
        port.driver = std::move(driver);
        ports.emplace(*com, std::move(port));
    }
}

bool IsValidDriverName(std::string_view driver) {
    return std::all_of(driver.begin(), driver.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-';
    });
}

std::optional<int> ComFromEntryName(std::string_view name) {
    if (!name.starts_with("COM")) {
        return std::nullopt;
    }
    const auto number = ParseDecimal(name.substr(3), INT_MAX);
    if (!number || *number < 1) {
        return std::nullopt;
    }
    return static_cast<int>(*number);
}

// Parses "key=value" lines; an entry without an absolute device node, with a bad driver name or
// a pid that is not a plain non-negative number is malformed. Unknown keys are left for later
// versions.
std::optional<UserPortEntry> ParseEntry(int com, std::string_view text) {
    UserPortEntry entry;
    entry.comNumber = com;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (Trim(line).empty()) {
            continue;
        }
        const size_t equal = line.find('=');
        if (equal == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view key = Trim(line.substr(0, equal));
        const std::string_view value = Trim(line.substr(equal + 1));
        if (key == kDeviceKey) {
            entry.deviceNode = std::string(value);
        } else if (key == kDriverKey) {
            entry.driver = std::string(value);
        } else if (key == kPidKey) {
            // A negative pid would make the liveness probe address a process group.
            const auto pid = ParseDecimal(value, INT_MAX);
            if (!pid) {
                return std::nullopt;
            }
            entry.ownerPid = static_cast<long>(*pid);
        }
    }
    if (entry.deviceNode.empty() || entry.deviceNode.front() != '/' ||
        entry.deviceNode.find('\0') != std::string::npos || !IsValidDriverName(entry.driver)) {
        return std::nullopt;
    }
    return entry;
}

bool IsStale(const UserPortEntry& entry) {
    if (entry.ownerPid > 0 && ::kill(static_cast<pid_t>(entry.ownerPid), 0) == -1 &&
        errno == ESRCH) {
        return true;
    }
    std::error_code ec;
    return !fs::exists(entry.deviceNode, ec) && !ec;
}

// The map decides what a COM number opens, so a directory others may write is not trusted.
bool IsTrustedMapDir(const fs::path& dir) {
    struct stat info {};
    return ::stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The entry file's identity: any rewrite (in place, or by rename as RegisterUserPort does)
// changes one of these.
bool SameFile(const PosixPortMap::CachedEntry& cached, const struct stat& info) {
    return cached.inode == info.st_ino && cached.size == info.st_size &&
           cached.changedNs == info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec &&
           cached.modifiedNs == info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
}

// File times tick coarsely (one kernel tick, 10 ms at most), so two quick rewrites of the same
// size may carry the same times: an entry changed this recently is read again, not trusted.
constexpr long long kSettledNs = 100'000'000LL;

void ScanUserMap(const fs::path& mapDir, std::map<int, PortInfo>& ports,
                 std::map<std::string, PosixPortMap::CachedEntry>& cache) {
    std::map<std::string, PosixPortMap::CachedEntry> seen;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long long nowNs = now.tv_sec * 1000000000LL + now.tv_nsec;
    if (mapDir.empty() || !IsTrustedMapDir(mapDir)) {
        cache.clear();
        return;
    }
    std::error_code ec;
    fs::directory_iterator it(mapDir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const auto com = ComFromEntryName(name);
        if (!com) {
            continue;
        }
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            continue;
        }
        PosixPortMap::CachedEntry cached;
        const auto found = cache.find(name);
        if (found != cache.end() && SameFile(found->second, info) &&
            nowNs - found->second.changedNs > kSettledNs) {
            cached = found->second;
        } else {
            const auto text = ReadSmallFile(it->path(), false);
            if (!text) {
                continue;
            }
            cached.inode = info.st_ino;
            cached.size = info.st_size;
            cached.changedNs = info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec;
            cached.modifiedNs = info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
            cached.entry = ParseEntry(*com, *text);
        }
        seen.emplace(name, cached);
        const std::optional<UserPortEntry>& entry = cached.entry;
        if (!entry) {
            continue;
        }
        if (IsStale(*entry)) {
            ::unlink(it->path().c_str());  // best effort: a read-only map just keeps it
            continue;
        }
        PortInfo port;
        port.comNumber = *com;
        port.driver = entry->driver.empty() ? kUartDriverName : entry->driver;
        port.valueName = kValueNamePrefix + port.driver + kUserValueTag + std::to_string(*com);
        port.data = ComData(*com);
        port.deviceNode = entry->deviceNode;
        port.fromUserMap = true;
        // Like a DOS device definition, a registered COMn hides the hardware port of that number.
        ports.insert_or_assign(*com, std::move(port));
    }
    cache = std::move(seen);
}

// Odd trees (a kernel driver named like a user tag) could still repeat a value name.
void MakeValueNamesUnique(std::vector<PortInfo>& ports) {
    std::set<std::string> used;
    for (PortInfo& port : ports) {
        while (!used.insert(port.valueName).second) {
            port.valueName += '_';
        }
    }
}

class SystemPortMap : public PortMap {
  public:
    std::vector<PortInfo> Scan() override {
        // The map directory follows the environment; the entry cache lives as long as it.
        fs::path dir = DefaultUserMapDir();
        if (!map_ || dir != dir_) {
            dir_ = std::move(dir);
            map_.emplace("/sys", dir_, "/dev");
        }
        return map_->Scan();
    }

  private:
    fs::path dir_;
    std::optional<PosixPortMap> map_;
};

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        done += static_cast<size_t>(count);
    }
    return true;
}

bool Fail(std::string* error, std::string message) {
    if (error != nullptr) {
        *error = std::move(message);
    }
    return false;
}

}  // namespace

PosixPortMap::PosixPortMap(fs::path sysfsRoot, fs::path userMapDir, fs::path devRoot)
    : sysfsRoot_(std::move(sysfsRoot)),
      userMapDir_(std::move(userMapDir)),
      devRoot_(std::move(devRoot)) {}

std::vector<PortInfo> PosixPortMap::Scan() {
    try {
        std::map<int, PortInfo> ports;
        ScanHardware(sysfsRoot_, devRoot_, ports);
        ScanUserMap(userMapDir_, ports, entryCache_);
        std::vector<PortInfo> list;
        list.reserve(ports.size());
        for (auto& [com, port] : ports) {
            list.push_back(std::move(port));
        }
        MakeValueNamesUnique(list);
        return list;
    } catch (const std::exception&) {
        return {};  // out of memory or a library surprise: no ports rather than a crash
    }
}

fs::path DefaultUserMapDir() {
    if (const char* dir = std::getenv(kPortMapVariable); dir != nullptr && *dir != '\0') {
        return dir;
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime) {
        return fs::path(runtime) / kRuntimeSubdir;
    }
    return kTmpMapPrefix + std::to_string(::getuid());
}

PortMap& RealPortMap() {
    static SystemPortMap map;
    return map;
}

bool RegisterUserPort(const fs::path& userMapDir, const UserPortEntry& entry, std::string* error) {
    if (entry.comNumber < 1) {
        return Fail(error, "COM number must be 1 or more");
    }
    const std::string& node = entry.deviceNode;
    if (node.empty() || node.front() != '/' ||
        node.find_first_of(std::string("\n\r\0", 3)) != std::string::npos) {
        return Fail(error, "device node must be an absolute path on one line");
    }
    if (!IsValidDriverName(entry.driver)) {
        return Fail(error, "driver name may hold only letters, digits, '_' and '-'");
    }
    if (entry.ownerPid < 0 || entry.ownerPid > INT_MAX) {
        return Fail(error, "owner pid out of range");
    }
    if (::mkdir(userMapDir.c_str(), kMapDirMode) != 0 && errno == ENOENT) {
        // A scratch path of a test or script may lack its parents too.
        std::error_code ec;
        fs::create_directories(userMapDir.parent_path(), ec);
        ::mkdir(userMapDir.c_str(), kMapDirMode);
    }
    struct stat dirInfo {};
    if (::stat(userMapDir.c_str(), &dirInfo) != 0) {
        return Fail(error, "cannot create " + userMapDir.string() + ": " +
                               std::generic_category().message(errno));
    }
    if (!IsTrustedMapDir(userMapDir)) {
        return Fail(error, userMapDir.string() + " is not a directory of this user only");
    }

    std::string text = std::string(kDeviceKey) + "=" + node + "\n";
    if (!entry.driver.empty()) {
        text += std::string(kDriverKey) + "=" + entry.driver + "\n";
    }
    if (entry.ownerPid > 0) {
        text += std::string(kPidKey) + "=" + std::to_string(entry.ownerPid) + "\n";
    }

    // Readers must see the old entry or the new one, never half of one: write, then rename.
    static std::atomic<unsigned> counter{0};
    const std::string entryName = ComData(entry.comNumber);
    const fs::path temp = userMapDir / ("." + entryName + ".tmp." + std::to_string(::getpid()) +
                                        "." + std::to_string(counter++));
    FileDescriptor fd(
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, kEntryMode));
    if (fd.Get() < 0) {
        return Fail(error, "cannot create " + temp.string() + ": " +
                               std::generic_category().message(errno));
    }
    const bool written = WriteAll(fd.Get(), text);
    const bool closed = ::close(fd.Release()) == 0;
    if (!written || !closed || ::rename(temp.c_str(), (userMapDir / entryName).c_str()) != 0) {
        const int cause = errno;
        ::unlink(temp.c_str());
        return Fail(error, "cannot write " + (userMapDir / entryName).string() + ": " +
                               std::generic_category().message(cause));
    }
    return true;
}

bool UnregisterUserPort(const fs::path& userMapDir, int comNumber) {
    if (comNumber < 1) {
        return true;
    }
    return ::unlink((userMapDir / ComData(comNumber)).c_str()) == 0 || errno == ENOENT;
}

}  // namespace platform
