#include "serial/DeviceList.h"

#include <glob.h>

std::vector<std::string> ListSerialDevices() {
    std::vector<std::string> devices;
    for (const char* szPattern : {"/dev/serial/by-id/*", "/dev/ttyUSB*", "/dev/ttyACM*",
                                  "/dev/ttyS*"}) {
        glob_t found{};
        if (glob(szPattern, 0, nullptr, &found) == 0) {
            for (size_t i = 0; i < found.gl_pathc; ++i)
                devices.emplace_back(found.gl_pathv[i]);
        }
        globfree(&found);
    }
    return devices;
}
