// The serial devices present on this machine, for the device list of the
// Port Settings page.
//
// Order: the stable names in serial/by-id (shown by the link's name, which
// names the adapter, and the node it points to), then ttyUSB*, ttyACM* and
// the ttyS* nodes that have a UART behind them, each group in number order.
// The kernel makes ttyS nodes for UARTs that may not exist; their port type
// in sysfs (the one TIOCGSERIAL reports) is 0 then, or missing, and they are
// left out. Reading sysfs needs no open, so listing raises no modem line on
// a port another program is using. The device the port is set to now is
// always in the list, marked when it is not there or has no UART.
#pragma once

#include <string>
#include <vector>

struct CDeviceChoice {
    std::string strPath;  // what the profile stores
    std::string strLabel; // what the list shows
};

class CDeviceScanner {
  public:
    // Tests point the two roots at folders of their own.
    explicit CDeviceScanner(std::string strDevRoot = "/dev",
                            std::string strSysRoot = "/sys");

    // The devices present, and strCurrent (the stored value) even if absent;
    // an empty strCurrent adds nothing.
    std::vector<CDeviceChoice> List(const std::string& strCurrent) const;

    // Whether the ttySn node strName (no folder) has a UART behind it.
    bool HasUart(const std::string& strName) const;

  private:
    std::string m_strDevRoot;
    std::string m_strSysRoot;
};

// The path of the choice whose label is strText; strText itself when none
// has it (a path typed by the operator).
std::string DevicePathForText(const std::vector<CDeviceChoice>& choices,
                              const std::string& strText);
