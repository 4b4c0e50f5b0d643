// The profile: one INI file with private-profile semantics.
//
// Section and key names match ignoring letter case; values are trimmed and
// stored raw (no quotes, no escapes); a missing key gives the default, a
// present empty one the empty text; an integer is the leading decimal number
// of the text. Every call reads the file afresh, so records never share a
// cache. A write updates the key in place (or appends it), keeps every other
// line as it was, and replaces the file atomically: a write that fails leaves
// the file untouched. A missing, unreadable or garbage file reads as empty.
//
// Used on the user-interface thread only.
#pragma once

#include <string>

class IProfile {
public:
    virtual ~IProfile() = default;
    virtual std::string GetString(const std::string& strSection,
                                  const std::string& strKey,
                                  const std::string& strDefault) const = 0;
    virtual int GetInt(const std::string& strSection, const std::string& strKey,
                       int nDefault) const = 0;
    // True when the file now holds the value.
    virtual bool WriteString(const std::string& strSection, const std::string& strKey,
                             const std::string& strValue) = 0;
    virtual bool WriteInt(const std::string& strSection, const std::string& strKey,
                          int nValue) = 0;
};

class CIniProfile : public IProfile {
public:
    explicit CIniProfile(std::string strPath);

    std::string GetString(const std::string& strSection, const std::string& strKey,
                          const std::string& strDefault) const override;
    int GetInt(const std::string& strSection, const std::string& strKey,
               int nDefault) const override;
    bool WriteString(const std::string& strSection, const std::string& strKey,
                     const std::string& strValue) override;
    bool WriteInt(const std::string& strSection, const std::string& strKey,
                  int nValue) override;

    const std::string& GetPath() const { return m_strPath; }

private:
    // The value of the key, if present (first occurrence wins).
    bool Find(const std::string& strSection, const std::string& strKey,
              std::string* pstrValue) const;
    std::string m_strPath;
};

// The leading decimal number of a text: white space, an optional sign, then
// digits; 0 when there is none. Clamped to the int range.
int DecimalValue(const std::string& strText);

// ${XDG_CONFIG_HOME:-$HOME/.config}/<exe>.INI
std::string DefaultProfilePath(const std::string& strExecutable = "volnex");

// The application's profile, used by every record that is not given one.
IProfile& AppProfile();
// Installs the application's profile (the program at start-up, tests);
// null restores the default file.
void SetAppProfile(IProfile* pProfile);
