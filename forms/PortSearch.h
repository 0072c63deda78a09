#pragma once

#include <cstdint>
#include <string>

#include "platform/registry/RegistrySource.h"
#include "platform/stringlist/StringList.h"

// The key where the system lists its serial ports, from the local machine root.
inline constexpr const char* kSerialPortsKey = "\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
// Driver word of the maker's USB serial adapter, looked for in value names (case-sensitive).
inline constexpr const char* kMakerDriverWord = "Silabser";
// Put between a port and the maker word.
inline constexpr const char* kMakerSeparator = " : ";
// Marks an entry as a port of the maker's adapter.
inline constexpr const char* kMakerWord = "KELDRAN";
// What precedes the number in a port name.
inline constexpr const char* kPortPrefix = "COM";

// Finding the serial ports, choosing one and following its number: the non-visual side of the
// port settings dialog. The ports come from the registry source given at construction.
class PortSearch {
  public:
    // Searches the machine's registry.
    PortSearch();
    explicit PortSearch(platform::RegistrySource& registry);
    PortSearch(const PortSearch&) = delete;
    PortSearch& operator=(const PortSearch&) = delete;

    // Rebuilds PortList from the serial-port key and chooses an entry: the first marked one,
    // else the last one holding the previous PortNumber, else the first. False only when the
    // key exists but its information cannot be read.
    bool SearchPorts();
    // The port number written in a port entry or radio item (com3, COM4 : KELDRAN); 0 when it
    // holds none or one too large.
    static int32_t PortNumberFromName(const std::string& text);
    // PortNumber, after a search when none is held.
    int32_t GetPortNumber();
    // Searches; true when the search succeeded and PortNumber differs from before it.
    bool PortChanged();
    bool HasPort() const { return PortNumber != 0; }
    // True when the chosen entry is the maker's adapter; searches first when no port is held.
    bool IsMakerAdapter();

    platform::TStringList PortList;  // entries of the last search, sorted, no duplicates
    int32_t SelectedIndex = -1;      // chosen entry of PortList; -1 before a search finds one
    int32_t PortNumber = 0;          // n of the chosen COMn; 0: no port

  private:
    platform::RegistrySource& registry_;
};
