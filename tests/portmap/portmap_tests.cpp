#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/portmap/PortMap.h"
#include "tests/support/FakeSysfs.h"

namespace fs = std::filesystem;
using platform::PortInfo;
using platform::PosixPortMap;
using platform::UserPortEntry;

namespace {

// COM number of a tty outside the named families: 1000 + major * 65536 + minor.
constexpr int DevCom(int major, int minor) {
    return 1000 + major * 65536 + minor;
}

using Tty = test_support::FakeTty;

struct Expected {
    int com;
    std::string valueName;
    std::string driver;
    std::string node;  // kernel name under the injected /dev
};

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A child that has already exited and been reaped: its pid names no process.
pid_t DeadPid() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
}

class PortMapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "portmap-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directories(Sys() / "class" / "tty");
        fs::create_directories(Dev());
        fs::create_directory(MapDir());
        fs::permissions(MapDir(), fs::perms::owner_all);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    fs::path Sys() const { return root_ / "sys"; }
    fs::path Dev() const { return root_ / "dev"; }
    fs::path MapDir() const { return root_ / "map"; }
    PosixPortMap Map() const { return PosixPortMap(Sys(), MapDir(), Dev()); }

    void AddTty(const Tty& tty) { test_support::AddFakeTty(Sys(), Dev(), tty); }

    fs::path NewNode(const std::string& name) {
        WriteFile(root_ / name, "");
        return root_ / name;
    }

    static void ExpectPorts(const std::vector<PortInfo>& ports, const std::vector<Expected>& want,
                            const fs::path& dev) {
        ASSERT_EQ(ports.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            SCOPED_TRACE(want[i].valueName);
            EXPECT_EQ(ports[i].comNumber, want[i].com);
            EXPECT_EQ(ports[i].valueName, want[i].valueName);
            EXPECT_EQ(ports[i].data, "COM" + std::to_string(want[i].com));
            EXPECT_EQ(ports[i].driver, want[i].driver);
            EXPECT_EQ(ports[i].deviceNode, (dev / want[i].node).string());
            EXPECT_FALSE(ports[i].fromUserMap);
        }
    }

    fs::path root_;
};

TEST_F(PortMapTest, HardwarePortsAreNamedAndNumberedLikeTheSystemKey) {
    const Tty ttys[] = {
        {"ttyUSB0", "cp210x", "", "188:0"},
        {"ttyUSB1", "ftdi_sio", "", "188:1"},
        {"ttyUSB2", "ch341", "", "188:2"},
        {"ttyUSB150", "pl2303", "", "188:150"},  // beyond the family range: device number
        {"ttyS0", "port", "4", "4:64"},
        {"ttyS1", "port", "0", "4:65"},  // placeholder slot without a UART
        {"ttyS3", "serial8250", "4", "4:67"},
        {"ttyACM0", "cdc_acm", "", "166:0"},
        {"ttyACM12", "cdc_acm", "", "166:12"},
        {"ttyAMA0", "uart-pl011", "2", "204:64"},
        {"ttyMSM0", "msm_serial", "1", "236:0"},
        {"ttyXR7", "", "", "240:7"},  // device without a bound driver
        {"tty1", "", "", "4:1", false},
        {"ptmx", "", "", "5:2", false},
    };
    for (const Tty& tty : ttys) {
        AddTty(tty);
    }
    // A device link into nowhere.
    fs::create_directories(Sys() / "class" / "tty" / "ttyUSB7");
    fs::create_directory_symlink("../../../devices/gone",
                                 Sys() / "class" / "tty" / "ttyUSB7" / "device");

    ExpectPorts(Map().Scan(),
                {
                    {1, "\\Device\\Serial0", "Serial", "ttyS0"},
                    {4, "\\Device\\Serial3", "Serial", "ttyS3"},
                    {101, "\\Device\\Silabser0", "Silabser", "ttyUSB0"},
                    {102, "\\Device\\VCP1", "VCP", "ttyUSB1"},
                    {103, "\\Device\\ch341_2", "ch341_", "ttyUSB2"},
                    {201, "\\Device\\USBSER000", "USBSER", "ttyACM0"},
                    {213, "\\Device\\USBSER012", "USBSER", "ttyACM12"},
                    {301, "\\Device\\Serial300", "Serial", "ttyAMA0"},
                    {DevCom(188, 150), "\\Device\\pl2303_" + std::to_string(DevCom(188, 150)),
                     "pl2303_", "ttyUSB150"},
                    {DevCom(236, 0), "\\Device\\Serial" + std::to_string(DevCom(236, 0) - 1),
                     "Serial", "ttyMSM0"},
                    {DevCom(240, 7), "\\Device\\Serial" + std::to_string(DevCom(240, 7) - 1),
                     "Serial", "ttyXR7"},
                },
                Dev());
    EXPECT_EQ(Map().DeviceNodeFor(101), (Dev() / "ttyUSB0").string());
    EXPECT_EQ(Map().DeviceNodeFor(2), std::nullopt);
}

TEST_F(PortMapTest, NumbersAndNamesStayWhenDevicesArrive) {
    AddTty({"ttyUSB1", "ftdi_sio", "", "188:1"});
    AddTty({"ttyS0", "port", "4", "4:64"});
    AddTty({"ttyACM1", "cdc_acm", "", "166:1"});
    const std::vector<PortInfo> before = Map().Scan();
    ASSERT_EQ(before.size(), 3u);

    AddTty({"ttyUSB0", "cp210x", "", "188:0"});
    AddTty({"ttyACM0", "cdc_acm", "", "166:0"});
    AddTty({"ttyMSM0", "msm_serial", "1", "236:0"});
    const std::vector<PortInfo> after = Map().Scan();
    ASSERT_EQ(after.size(), 6u);
    for (const PortInfo& old : before) {
        SCOPED_TRACE(old.valueName);
        const auto same = std::find_if(after.begin(), after.end(), [&](const PortInfo& port) {
            return port.deviceNode == old.deviceNode;
        });
        ASSERT_NE(same, after.end());
        EXPECT_EQ(same->comNumber, old.comNumber);
        EXPECT_EQ(same->valueName, old.valueName);
    }
}

TEST_F(PortMapTest, HundredsOfPortsGetDistinctNumbersAndNames) {
    const int usbCount = 300;
    const int uartCount = 150;
    for (int i = 0; i < usbCount; ++i) {
        AddTty({"ttyUSB" + std::to_string(i), i % 2 ? "cp210x" : "ch341", "",
                "188:" + std::to_string(i)});
    }
    for (int i = 0; i < uartCount; ++i) {
        AddTty({"ttyS" + std::to_string(i), "serial8250", "4", "4:" + std::to_string(64 + i)});
    }
    AddTty({"ttyAMA0", "uart-pl011", "2", "204:64"});

    const std::vector<PortInfo> ports = Map().Scan();
    ASSERT_EQ(ports.size(), static_cast<size_t>(usbCount + uartCount + 1));
    std::set<std::string> names;
    for (size_t i = 0; i < ports.size(); ++i) {
        EXPECT_TRUE(names.insert(ports[i].valueName).second) << ports[i].valueName;
        if (i > 0) {
            EXPECT_LT(ports[i - 1].comNumber, ports[i].comNumber);
        }
    }
}

TEST_F(PortMapTest, OddSysfsContentLeavesPortsOutWithoutFailing) {
    struct Case {
        const char* what;
        void (*lay)(const fs::path& ttyDir);
        size_t ports;
    };
    const Case cases[] = {
        {"type attribute that is a directory",
         [](const fs::path& d) { fs::create_directory(d / "type"); }, 1},
        {"device link pointing to itself",
         [](const fs::path& d) {
             fs::remove(d / "device");
             fs::create_directory_symlink("device", d / "device");
         },
         0},
        {"garbage dev attribute", [](const fs::path& d) { WriteFile(d / "dev", "x:y\n"); }, 0},
        {"huge device number",
         [](const fs::path& d) { WriteFile(d / "dev", "99999999999999999999:1\n"); }, 0},
        {"minor beyond 16 bits", [](const fs::path& d) { WriteFile(d / "dev", "240:70000\n"); }, 0},
        {"oversized attribute",
         [](const fs::path& d) { WriteFile(d / "dev", std::string(100000, '1')); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        AddTty({"ttyXR0", "xr_serial", "", "240:0"});
        c.lay(Sys() / "class" / "tty" / "ttyXR0");
        EXPECT_EQ(Map().Scan().size(), c.ports);
    }

    EXPECT_TRUE(PosixPortMap(root_ / "absent", root_ / "absent", Dev()).Scan().empty());
    fs::remove_all(Sys() / "class" / "tty");
    WriteFile(Sys() / "class" / "tty", "not a directory");
    EXPECT_TRUE(Map().Scan().empty());
}

TEST_F(PortMapTest, UserEntriesJoinTheListAndOverrideHardware) {
    AddTty({"ttyS0", "port", "4", "4:64"});
    AddTty({"ttyUSB0", "cp210x", "", "188:0"});
    const fs::path pty = NewNode("pty5");
    const fs::path sim = NewNode("sim7");
    const fs::path link = NewNode("link101");
    std::string error;
    ASSERT_TRUE(platform::RegisterUserPort(MapDir(), {5, pty.string(), "", 0}, &error)) << error;
    ASSERT_TRUE(
        platform::RegisterUserPort(MapDir(), {7, sim.string(), "Silabser", ::getpid()}, &error))
        << error;
    ASSERT_TRUE(platform::RegisterUserPort(MapDir(), {101, link.string(), "", 0}, &error)) << error;

    const std::vector<PortInfo> ports = Map().Scan();
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0].valueName, "\\Device\\Serial0");
    struct Want {
        size_t index;
        int com;
        std::string driver;
        fs::path node;
    };
    for (const Want& want :
         {Want{1, 5, "Serial", pty}, Want{2, 7, "Silabser", sim}, Want{3, 101, "Serial", link}}) {
        const PortInfo& port = ports[want.index];
        SCOPED_TRACE(port.valueName);
        EXPECT_EQ(port.comNumber, want.com);
        EXPECT_EQ(port.data, "COM" + std::to_string(want.com));
        EXPECT_EQ(port.driver, want.driver);
        EXPECT_EQ(port.deviceNode, want.node.string());
        EXPECT_TRUE(port.fromUserMap);
        EXPECT_TRUE(port.valueName.starts_with("\\Device\\" + want.driver)) << port.valueName;
        EXPECT_NE(port.valueName, "\\Device\\Serial0");
        EXPECT_NE(port.valueName, "\\Device\\Silabser0");
    }
    EXPECT_NE(ports[1].valueName, ports[3].valueName);

    // Only finished entries are left behind, no temporary files.
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(MapDir())) {
        files.insert(entry.path().filename().string());
    }
    EXPECT_EQ(files, (std::set<std::string>{"COM5", "COM7", "COM101"}));

    // Re-registering replaces the entry; removing it brings the hardware port back.
    ASSERT_TRUE(platform::RegisterUserPort(MapDir(), {5, sim.string(), "", 0}));
    EXPECT_EQ(Map().DeviceNodeFor(5), sim.string());
    EXPECT_TRUE(platform::UnregisterUserPort(MapDir(), 101));
    EXPECT_TRUE(platform::UnregisterUserPort(MapDir(), 101));
    EXPECT_EQ(Map().DeviceNodeFor(101), (Dev() / "ttyUSB0").string());
}

TEST_F(PortMapTest, OneMapScannedAgainSeesEveryChangeOfItsEntries) {
    // The map keeps what it read of each entry between scans; no change may go unseen, not even
    // an in-place rewrite of the same size made at once.
    const fs::path a = NewNode("nodeA");
    const fs::path b = NewNode("nodeB");
    const fs::path c = NewNode("nodeC");
    PosixPortMap map = Map();
    ASSERT_TRUE(platform::RegisterUserPort(MapDir(), {5, a.string(), "", 0}));
    EXPECT_EQ(map.DeviceNodeFor(5), a.string());

    WriteFile(MapDir() / "COM5", "device=" + b.string() + "\n");  // same size, same inode
    EXPECT_EQ(map.DeviceNodeFor(5), b.string());

    ASSERT_TRUE(platform::RegisterUserPort(MapDir(), {5, c.string(), "Silabser", 0}));
    const std::vector<PortInfo> ports = map.Scan();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].deviceNode, c.string());
    EXPECT_EQ(ports[0].driver, "Silabser");

    WriteFile(MapDir() / "COM5", "garbage\n");
    EXPECT_TRUE(map.Scan().empty());
    ASSERT_TRUE(platform::RegisterUserPort(MapDir(), {5, a.string(), "", 0}));
    EXPECT_EQ(map.DeviceNodeFor(5), a.string());
    ASSERT_TRUE(platform::UnregisterUserPort(MapDir(), 5));
    EXPECT_TRUE(map.Scan().empty());
}

TEST_F(PortMapTest, StaleEntriesAreDroppedAndDeleted) {
    struct Case {
        const char* what;
        long pid;
        bool nodeExists;
        bool kept;
    };
    const pid_t dead = DeadPid();
    const Case cases[] = {
        {"owner alive, node present", ::getpid(), true, true},
        {"no owner, node present", 0, true, true},
        {"owner gone", dead, true, false},
        {"node gone", 0, false, false},
        {"owner alive, node gone", ::getpid(), false, false},
    };
    int com = 10;
    for (const Case& c : cases) {
        const fs::path node = root_ / ("node" + std::to_string(com));
        if (c.nodeExists) {
            WriteFile(node, "");
        }
        ASSERT_TRUE(platform::RegisterUserPort(MapDir(), {com, node.string(), "", c.pid}));
        ++com;
    }
    const std::vector<PortInfo> ports = Map().Scan();
    com = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool listed = std::any_of(ports.begin(), ports.end(), [&](const PortInfo& port) {
            return port.comNumber == com;
        });
        EXPECT_EQ(listed, c.kept);
        EXPECT_EQ(fs::exists(MapDir() / ("COM" + std::to_string(com))), c.kept);
        ++com;
    }
}

TEST_F(PortMapTest, MalformedEntriesAreIgnored) {
    const fs::path node = NewNode("node");
    const std::string good = "device=" + node.string() + "\n";
    struct Case {
        std::string file;
        std::string content;
        bool listed;
    };
    const Case cases[] = {
        {"COM3", good, true},
        {"COM2147483647", good + "driver=Silabser\npid=" + std::to_string(::getpid()) + "\n", true},
        {"COM3", "not a key and value\n" + good, false},
        {"COM3", "", false},
        {"COM3", "driver=Silabser\n", false},
        {"COM3", "device=relative/node\n", false},
        {"COM3", good + "pid=-1\n", false},  // -1 would probe every process
        {"COM3", good + "pid=abc\n", false},
        {"COM3", good + "pid=99999999999999999999\n", false},
        {"COM3", good + "driver=Sil abser\n", false},
        {"COM3", std::string("device=/\0\xff\n", 10), false},
        {"COM3", good + std::string(5000, 'x'), false},
        {"COM0", good, false},
        {"COM03", good, false},
        {"COM2147483648", good, false},
        {"COM4294967299", good, false},
        {"COM99999999999999999999999", good, false},
        {"com3", good, false},
        {"COMx", good, false},
        {".COM3.tmp.1.0", good, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + ": " + c.content);
        fs::remove_all(MapDir());
        fs::create_directory(MapDir());
        fs::permissions(MapDir(), fs::perms::owner_all);
        WriteFile(MapDir() / c.file, c.content);
        const std::vector<PortInfo> ports = Map().Scan();
        EXPECT_EQ(ports.size(), c.listed ? 1u : 0u);
    }

    // Entries that are not plain files: a FIFO must not block the scan.
    fs::remove_all(MapDir());
    fs::create_directory(MapDir());
    fs::permissions(MapDir(), fs::perms::owner_all);
    ASSERT_EQ(::mkfifo((MapDir() / "COM3").c_str(), 0600), 0);
    fs::create_directory(MapDir() / "COM4");
    WriteFile(root_ / "elsewhere", good);
    fs::create_symlink(root_ / "elsewhere", MapDir() / "COM5");
    ASSERT_TRUE(platform::RegisterUserPort(MapDir(), {6, node.string(), "", 0}));
    const std::vector<PortInfo> ports = Map().Scan();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].comNumber, 6);
}

TEST_F(PortMapTest, MapOthersCanWriteIsNotTrusted) {
    const fs::path node = NewNode("node");
    ASSERT_TRUE(platform::RegisterUserPort(MapDir(), {5, node.string(), "", 0}));
    fs::permissions(MapDir(), fs::perms::all);
    EXPECT_TRUE(Map().Scan().empty());
    std::string error;
    EXPECT_FALSE(platform::RegisterUserPort(MapDir(), {6, node.string(), "", 0}, &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(PortMapTest, RegisterRefusesBadEntriesAndCreatesTheMap) {
    const std::string node = NewNode("node").string();
    const UserPortEntry cases[] = {
        {0, node, "", 0},
        {-4, node, "", 0},
        {3, "", "", 0},
        {3, "relative/node", "", 0},
        {3, node + "\ndriver=Silabser", "", 0},
        {3, node, "Sil\nabser", 0},
        {3, node, "a=b", 0},
        {3, node, "", -1},
    };
    const fs::path dir = root_ / "fresh";
    for (const UserPortEntry& entry : cases) {
        SCOPED_TRACE(entry.deviceNode + " " + entry.driver);
        std::string error;
        EXPECT_FALSE(platform::RegisterUserPort(dir, entry, &error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(fs::exists(dir));

    // A good entry creates the directory, parents included, for this user only.
    ASSERT_TRUE(platform::RegisterUserPort(dir / "ports", {3, node, "", 0}));
    EXPECT_EQ(fs::status(dir / "ports").permissions() & fs::perms::all, fs::perms::owner_all);
    WriteFile(root_ / "file", "");
    EXPECT_FALSE(platform::RegisterUserPort(root_ / "file" / "ports", {3, node, "", 0}));
}

class EnvironmentGuard {
  public:
    explicit EnvironmentGuard(const char* name) : name_(name) {
        if (const char* value = std::getenv(name)) {
            saved_ = value;
        }
    }
    ~EnvironmentGuard() {
        if (saved_) {
            ::setenv(name_, saved_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    void Set(const char* value) {
        if (value) {
            ::setenv(name_, value, 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> saved_;
};

TEST(DefaultUserMapDirTest, FollowsTheEnvironment) {
    EnvironmentGuard own("TALVINO_PORT_MAP");
    EnvironmentGuard runtime("XDG_RUNTIME_DIR");
    struct Case {
        const char* own;
        const char* runtime;
        std::string want;
    };
    const Case cases[] = {
        {"/x/map", "/run/user/5", "/x/map"},
        {nullptr, "/run/user/5", "/run/user/5/talvino-ports"},
        {"", "/run/user/5", "/run/user/5/talvino-ports"},
        {nullptr, nullptr, "/tmp/talvino-ports-" + std::to_string(::getuid())},
        {nullptr, "", "/tmp/talvino-ports-" + std::to_string(::getuid())},
    };
    for (const Case& c : cases) {
        own.Set(c.own);
        runtime.Set(c.runtime);
        EXPECT_EQ(platform::DefaultUserMapDir(), fs::path(c.want));
    }
}

TEST_F(PortMapTest, RealPortMapLooksUpTheMapAtEveryScan) {
    EnvironmentGuard own("TALVINO_PORT_MAP");
    const fs::path other = root_ / "other";
    const fs::path node = NewNode("node");
    const fs::path otherNode = NewNode("otherNode");
    // Far above any number the machine's own ports get.
    constexpr int kCom = 2000000000;
    ASSERT_TRUE(platform::RegisterUserPort(MapDir(), {kCom, node.string(), "", 0}));
    ASSERT_TRUE(platform::RegisterUserPort(other, {kCom, otherNode.string(), "", 0}));

    own.Set(MapDir().c_str());
    EXPECT_EQ(platform::RealPortMap().DeviceNodeFor(kCom), node.string());
    own.Set(other.c_str());
    EXPECT_EQ(platform::RealPortMap().DeviceNodeFor(kCom), otherNode.string());
}

}  // namespace
