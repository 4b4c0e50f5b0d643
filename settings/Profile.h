// The profile: one INI file with private-profile semantics.
//
// Section and key names match ignoring letter case; values are trimmed and
// stored raw (no quotes, no escapes); a missing key gives the default, a
// present empty one the empty text; an integer is the leading decimal number
// of the text. Every call sees the file as it is at that moment, so records
// never see stale values: the file is opened and parsed again whenever it
// changed (its inode, size, or change and modification times, which a stat
// tells), and only then, so reading costs the same however large the file
// is. A write updates the key in place
// (or appends it), keeps every other line as it was (a leading UTF-8 byte
// order mark included, which reading skips), and replaces the file
// atomically: a write that fails leaves the file untouched. A missing,
// unreadable or garbage file reads as empty. A write never replaces a file
// that CheckProfileFile finds unusable (one it cannot read would lose what
// it holds, one that is no text file was never a profile): it fails, and the
// failure handler is told why.
//
// Used on the user-interface thread only.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

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
    // The sections the file holds, as first written, in file order (a name
    // repeated in other letter case counts once).
    virtual std::vector<std::string> GetSectionNames() const { return {}; }
    // The file the values live in; empty for a profile that has none.
    virtual std::string GetFilePath() const { return std::string(); }
};

class CIniProfile : public IProfile {
  public:
    // Told "<path>: <reason>" when a write fails after the last one worked
    // (once per outage, not at every write); the value is then not stored.
    using FailureHandler = std::function<void(const std::string& strPathAndReason)>;

    explicit CIniProfile(std::string strPath);
    ~CIniProfile() override;

    std::string GetString(const std::string& strSection, const std::string& strKey,
                          const std::string& strDefault) const override;
    int GetInt(const std::string& strSection, const std::string& strKey,
               int nDefault) const override;
    bool WriteString(const std::string& strSection, const std::string& strKey,
                     const std::string& strValue) override;
    bool WriteInt(const std::string& strSection, const std::string& strKey,
                  int nValue) override;

    std::vector<std::string> GetSectionNames() const override;
    std::string GetFilePath() const override { return m_strPath; }

    const std::string& GetPath() const { return m_strPath; }
    void SetFailureHandler(FailureHandler handler) { m_onFailure = std::move(handler); }

  private:
    struct CParsed;
    // The value of the key, if present (first occurrence wins).
    // The file as it is now, parsed again only when it changed; null when
    // there is no readable file.
    const CParsed* Parsed() const;
    bool Find(const std::string& strSection, const std::string& strKey,
              std::string* pstrValue) const;
    // strFailure: empty when the write worked, else "<path>: <reason>".
    bool NoteWrite(const std::string& strFailure);

    std::string m_strPath;
    mutable std::unique_ptr<CParsed> m_pParsed; // the file as last parsed
    FailureHandler m_onFailure;
    bool m_bFailing = false; // the last write failed
};

// What a profile path holds, before it is used.
enum class ProfileFileState {
    kUsable,   // a readable text file
    kMissing,  // nothing there yet: the first write makes it
    kUnusable, // something there that cannot serve as the profile
};

// Looks at the file without changing it. For kUnusable, *pstrReason says
// why: "is a folder", "is not a regular file" (a device, a pipe), the
// system's text for a file or folder that cannot be read ("Permission
// denied", "Not a directory"), or "is not a text file" (LooksLikeText).
ProfileFileState CheckProfileFile(const std::string& strPath, std::string* pstrReason);

// Whether the bytes (the start of a file) are text as an editor leaves it.
// A NUL byte never is; otherwise at most a quarter of the bytes may be odd
// ones: control characters other than TAB, LF, CR, FF and SUB (an old end
// of file mark), or bytes that are no part of well-formed UTF-8. A profile
// edited by hand with a stray control character or some Latin-1 letters
// stays text; binary data has about half its bytes odd.
bool LooksLikeText(const std::string& strBytes);

// Makes the folder and those above it that are missing, with this mode;
// 0 or the errno of the failure (ENOTDIR where a file is in the way).
int MakeFolders(const std::string& strFolder, unsigned nMode);

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
