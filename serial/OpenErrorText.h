// The text that says why a serial device could not be opened.
//
// Every failure reads "<path>: <system text>", a path that is no terminal
// "<path>: not a serial device". The two that users meet most
// and can mend themselves say what to do on this system:
// - not allowed (EACCES, EPERM): the group that owns the device node,
//   whether the user is in it, and the command that adds the user to it;
// - in use (EBUSY, also the exclusive lock): the program that holds the
//   device when /proc tells, else "in use by another program".
// The facts come through ISystemLookup so that tests can fake them.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct CDeviceHolder {
    pid_t nPid = 0;
    std::string strName; // the process's command name
};

class ISystemLookup {
  public:
    virtual ~ISystemLookup() = default;
    // The name of the group that owns the node at strPath (links followed);
    // false when the node cannot be looked at.
    virtual bool DeviceGroup(const std::string& strPath, std::string* pstrGroup) = 0;
    // Whether this process has the group's rights now.
    virtual bool ProcessInGroup(const std::string& strGroup) = 0;
    // Whether the group database lists the user as a member: true while the
    // process is not in it means the user was added and has not logged in
    // again since.
    virtual bool UserListedInGroup(const std::string& strGroup) = 0;
    virtual std::string UserName() = 0;
    // The processes that have the device open, as far as /proc tells.
    virtual std::vector<CDeviceHolder> DeviceHolders(const std::string& strPath) = 0;
};

// The lookups of the running system: stat, the group and user databases and
// /proc/<pid>/fd.
class CSystemLookup : public ISystemLookup {
  public:
    // strProcRoot: where /proc is (tests point it at a folder of their own).
    explicit CSystemLookup(std::string strProcRoot = "/proc");
    bool DeviceGroup(const std::string& strPath, std::string* pstrGroup) override;
    bool ProcessInGroup(const std::string& strGroup) override;
    bool UserListedInGroup(const std::string& strGroup) override;
    std::string UserName() override;
    std::vector<CDeviceHolder> DeviceHolders(const std::string& strPath) override;

  private:
    std::string m_strProcRoot;
};

std::string OpenErrorText(const std::string& strPath, int nError,
                          ISystemLookup& lookup);

// The system's text for an errno ("Permission denied"), or "Unknown error N".
std::string SystemText(int nError);
// The same with the running system's lookups.
std::string OpenErrorText(const std::string& strPath, int nError);
