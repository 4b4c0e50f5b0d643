#include "settings/Profile.h"
#include "tests/TempDir.h"

#include <gtest/gtest.h>

#include <random>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class ProfileTest : public ::testing::Test {
  protected:
    CTempDir dir;
    std::string path = dir.Path("volnex.INI");
    CIniProfile profile{path};
};

TEST_F(ProfileTest, MissingFileReadsAsEmpty) {
    EXPECT_EQ(profile.GetString("Configuration", "CommPort", "COM1"), "COM1");
    EXPECT_EQ(profile.GetInt("Configuration", "RTS1", 1), 1);
}

TEST_F(ProfileTest, ReadsWithPrivateProfileSemantics) {
    CTempDir::Write(path, "; a comment = not a key\n"
                          "[other]\nCommPort=COM4\n"
                          "  [ configuration ]  \n"
                          "  commport   =   COM3   \n"
                          "Parity2=\n"
                          "BaudRate1=12abc\n"
                          "BaudRate2=fast\n"
                          "RTS1=\n"
                          "Neg=-7x\n"
                          "Quoted=\"a b\"\n"
                          "CommPort=COM2\n"
                          "noequals\n");
    EXPECT_EQ(profile.GetString("Configuration", "CommPort", "COM1"), "COM3");
    EXPECT_EQ(profile.GetString("CONFIGURATION", "COMMPORT", "COM1"), "COM3");
    EXPECT_EQ(profile.GetString("Configuration", "Parity2", "None"), "");
    EXPECT_EQ(profile.GetString("Configuration", "Missing", "dflt"), "dflt");
    EXPECT_EQ(profile.GetInt("Configuration", "BaudRate1", 9600), 12);
    EXPECT_EQ(profile.GetInt("Configuration", "BaudRate2", 9600), 0);
    EXPECT_EQ(profile.GetInt("Configuration", "RTS1", 1), 0);
    EXPECT_EQ(profile.GetInt("Configuration", "Neg", 0), -7);
    EXPECT_EQ(profile.GetString("Configuration", "Quoted", ""), "\"a b\"");
    EXPECT_EQ(profile.GetString("Configuration", "noequals", "x"), "x");
    EXPECT_EQ(profile.GetString("other", "commport", ""), "COM4");
}

TEST_F(ProfileTest, DecimalValueTakesTheLeadingNumber) {
    EXPECT_EQ(DecimalValue("9600"), 9600);
    EXPECT_EQ(DecimalValue("  +42 baud"), 42);
    EXPECT_EQ(DecimalValue("-3"), -3);
    EXPECT_EQ(DecimalValue(""), 0);
    EXPECT_EQ(DecimalValue("fast"), 0);
    EXPECT_EQ(DecimalValue("99999999999999999999"), 2147483647);
    EXPECT_EQ(DecimalValue("-99999999999999999999"), -2147483647 - 1);
}

TEST_F(ProfileTest, AWriteChangesOnlyItsKeyAndKeepsEveryOtherLine) {
    const std::string before = "; Volnex settings\r\n"
                               "[Display]\r\n"
                               "Font=Fixed 10\r\n"
                               "\r\n"
                               "[Configuration]\r\n"
                               "CommPort=COM1\r\n"
                               "BaudRate1 = 9600\r\n"
                               "\r\n"
                               "[Later]\r\n"
                               "Key=Value\r\n";
    CTempDir::Write(path, before);
    ASSERT_TRUE(profile.WriteString("configuration", "baudrate1", "2400"));
    std::string expected = before;
    expected.replace(expected.find("BaudRate1 = 9600"), 16, "baudrate1=2400");
    EXPECT_EQ(CTempDir::Read(path), expected);

    // A new key goes at the end of its section, before the blank line.
    ASSERT_TRUE(profile.WriteInt("Configuration", "RTS1", 2));
    expected.insert(expected.find("\r\n\r\n[Later]") + 2, "RTS1=2\r\n");
    EXPECT_EQ(CTempDir::Read(path), expected);
    EXPECT_EQ(profile.GetInt("Configuration", "rts1", 1), 2);
}

TEST_F(ProfileTest, WritingCreatesTheFolderAndTheSection) {
    CIniProfile nested(dir.Path("a/b/volnex.INI"));
    ASSERT_TRUE(nested.WriteString("Configuration", "CommPort", "COM2"));
    EXPECT_EQ(CTempDir::Read(dir.Path("a/b/volnex.INI")),
              "[Configuration]\nCommPort=COM2\n");
    // A file without a final line end gets one before the appended section.
    CTempDir::Write(path, "[Other]\nx=1");
    ASSERT_TRUE(profile.WriteString("Configuration", "ViewProtocol", "1"));
    EXPECT_EQ(CTempDir::Read(path), "[Other]\nx=1\n[Configuration]\nViewProtocol=1\n");
}

TEST_F(ProfileTest, ValuesAreStoredRawButCannotBreakTheFile) {
    ASSERT_TRUE(
        profile.WriteString("Configuration", "Device1", "/dev/serial/by-id/usb x"));
    ASSERT_TRUE(profile.WriteString("Configuration", "Evil",
                                    "a\n[Configuration]\nCommPort=COM9"));
    EXPECT_EQ(profile.GetString("Configuration", "Device1", ""),
              "/dev/serial/by-id/usb x");
    EXPECT_EQ(profile.GetString("Configuration", "CommPort", "COM1"), "COM1");
}

TEST_F(ProfileTest, AFailedWriteChangesNothingOnDisk) {
    CTempDir::Write(path, "[Configuration]\nCommPort=COM1\n");
    // A file where the folder should be: the folder cannot be made.
    CTempDir::Write(dir.Path("blocker"), "x");
    CIniProfile blocked(dir.Path("blocker/volnex.INI"));
    EXPECT_FALSE(blocked.WriteString("Configuration", "CommPort", "COM2"));
    EXPECT_EQ(blocked.GetString("Configuration", "CommPort", "COM1"), "COM1");
    // A read-only folder: the temporary file cannot be made (not as root).
    if (geteuid() != 0) {
        chmod(dir.Path().c_str(), 0555);
        EXPECT_FALSE(profile.WriteString("Configuration", "CommPort", "COM2"));
        chmod(dir.Path().c_str(), 0755);
        EXPECT_EQ(CTempDir::Read(path), "[Configuration]\nCommPort=COM1\n");
    }
    // No temporary file is left behind.
    int nFiles = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        (void)entry;
        ++nFiles;
    }
    EXPECT_EQ(nFiles, 2);
}

TEST_F(ProfileTest, AByteOrderMarkIsSkippedWhenReadAndKeptWhenWritten) {
    const std::string strBom = "\xEF\xBB\xBF";
    CTempDir::Write(path, strBom + "[Configuration]\r\nCommPort=COM3\r\n");
    EXPECT_EQ(profile.GetString("Configuration", "CommPort", "COM1"), "COM3");
    ASSERT_TRUE(profile.WriteString("Configuration", "BaudRate3", "2400"));
    ASSERT_TRUE(profile.WriteString("Configuration", "CommPort", "COM2"));
    EXPECT_EQ(CTempDir::Read(path),
              strBom + "[Configuration]\r\nCommPort=COM2\r\nBaudRate3=2400\r\n");
}

TEST_F(ProfileTest, AFailingWriteIsReportedOncePerOutage) {
    std::vector<std::string> reports;
    CTempDir::Write(dir.Path("blocker"), "x");
    const std::string strBlocked = dir.Path("blocker/volnex.INI");
    CIniProfile blocked(strBlocked);
    blocked.SetFailureHandler(
        [&](const std::string& strText) { reports.push_back(strText); });
    EXPECT_FALSE(blocked.WriteString("Configuration", "CommPort", "COM2"));
    EXPECT_FALSE(blocked.WriteInt("Configuration", "RTS1", 0));
    ASSERT_EQ(reports, std::vector<std::string>{strBlocked + ": Not a directory"});
    // Mended, then broken again: a new outage is reported again.
    std::remove(dir.Path("blocker").c_str());
    EXPECT_TRUE(blocked.WriteString("Configuration", "CommPort", "COM2"));
    std::filesystem::remove_all(dir.Path("blocker"));
    CTempDir::Write(dir.Path("blocker"), "x");
    EXPECT_FALSE(blocked.WriteString("Configuration", "CommPort", "COM3"));
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(ProfileTest, ReadsSeeEveryChangeOfTheFile) {
    // Values are parsed once per change of the file; a change made by
    // another program or record must show at the next read.
    CTempDir::Write(path, "[Configuration]\nCommPort=COM1\n");
    EXPECT_EQ(profile.GetString("Configuration", "CommPort", ""), "COM1");
    CIniProfile other(path);
    ASSERT_TRUE(other.WriteString("Configuration", "CommPort", "COM2"));
    EXPECT_EQ(profile.GetString("Configuration", "CommPort", ""), "COM2");
    CTempDir::Write(path, "[Configuration]\nCommPort=COM4\nParity1=Odd\n"); // in place
    EXPECT_EQ(profile.GetString("Configuration", "CommPort", ""), "COM4");
    EXPECT_EQ(profile.GetString("configuration", "parity1", ""), "Odd");
    std::remove(path.c_str());
    EXPECT_EQ(profile.GetString("Configuration", "CommPort", "gone"), "gone");
}

TEST_F(ProfileTest, AFileThatDidNotChangeIsNotOpenedAgain) {
    // The status bar reads the profile ten times a second and more.
    CTempDir::Write(path, "[Configuration]\nCommPort=COM1\n");
    const int nWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(nWatch, 0);
    ASSERT_GE(inotify_add_watch(nWatch, dir.Path("").c_str(), IN_OPEN), 0);
    auto opens = [&] {
        int nOpens = 0;
        alignas(inotify_event) char buffer[4096];
        ssize_t n;
        while ((n = read(nWatch, buffer, sizeof buffer)) > 0) {
            for (char* p = buffer; p < buffer + n;) {
                auto* pEvent = reinterpret_cast<inotify_event*>(p);
                if (pEvent->len > 0 && std::string(pEvent->name) == "volnex.INI")
                    ++nOpens;
                p += sizeof(inotify_event) + pEvent->len;
            }
        }
        return nOpens;
    };
    // Repeated events are merged until read: each read is counted apart.
    auto opensOfReads = [&](const std::string& strExpected) {
        int nOpens = 0;
        for (int i = 0; i < 20; ++i) {
            EXPECT_EQ(profile.GetString("Configuration", "CommPort", ""), strExpected);
            nOpens += opens();
        }
        return nOpens;
    };
    EXPECT_EQ(opensOfReads("COM1"), 1);
    CIniProfile other(path);
    ASSERT_TRUE(other.WriteString("Configuration", "CommPort", "COM2"));
    opens(); // the write's own
    EXPECT_EQ(opensOfReads("COM2"), 1);
    close(nWatch);
}

TEST_F(ProfileTest, GarbageAndUnreadableFilesReadAsEmptyAndAreNeverWrittenOver) {
    std::vector<std::string> reports;
    profile.SetFailureHandler(
        [&](const std::string& strText) { reports.push_back(strText); });
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 131) & 0xFF);
    CTempDir::Write(path, garbage);
    EXPECT_EQ(profile.GetString("Configuration", "CommPort", "COM1"), "COM1");
    // Not a profile (a binary named by mistake): left as it is.
    EXPECT_FALSE(profile.WriteString("Configuration", "CommPort", "COM2"));
    EXPECT_EQ(CTempDir::Read(path), garbage);
    EXPECT_EQ(reports, std::vector<std::string>{path + ": is not a text file"});

    // A file it cannot read: a write would replace what it holds with one key.
    if (geteuid() != 0) {
        CTempDir::Write(path, "[Configuration]\nCommPort=COM3\n");
        chmod(path.c_str(), 0);
        EXPECT_EQ(profile.GetString("Configuration", "CommPort", "COM1"), "COM1");
        EXPECT_FALSE(profile.WriteString("Configuration", "CommPort", "COM2"));
        chmod(path.c_str(), 0644);
        EXPECT_EQ(CTempDir::Read(path), "[Configuration]\nCommPort=COM3\n");
    }

    // A folder where the file should be.
    CIniProfile folder(dir.Path());
    EXPECT_EQ(folder.GetString("Configuration", "CommPort", "COM1"), "COM1");
    EXPECT_FALSE(folder.WriteString("Configuration", "CommPort", "COM2"));
}

class ProfileCheckTest : public ::testing::Test {
  protected:
    // The state and the reason CheckProfileFile gives for the path.
    std::pair<ProfileFileState, std::string> Check(const std::string& strPath) {
        std::string strReason = "stale";
        const ProfileFileState state = CheckProfileFile(strPath, &strReason);
        return {state, strReason};
    }
    // Bytes as binary data has them: any value but NUL, no lines.
    static std::string NoiseWithoutNul(size_t nSize) {
        std::mt19937 random(7);
        std::string strNoise;
        while (strNoise.size() < nSize)
            strNoise += static_cast<char>(1 + random() % 255);
        return strNoise;
    }
    CTempDir dir;
    std::string path = dir.Path("volnex.INI");
    using Result = std::pair<ProfileFileState, std::string>;
};

TEST_F(ProfileCheckTest, AMissingFileIsToldApartFromAnUnusableOne) {
    EXPECT_EQ(Check(path), Result(ProfileFileState::kMissing, ""));
    EXPECT_EQ(Check(dir.Path("no/such/folder/volnex.INI")),
              Result(ProfileFileState::kMissing, ""));
    CTempDir::Write(path, "");
    EXPECT_EQ(Check(path), Result(ProfileFileState::kUsable, ""));
    CTempDir::Write(path, "[Configuration]\nCommPort=COM2\n");
    EXPECT_EQ(Check(path), Result(ProfileFileState::kUsable, ""));
}

TEST_F(ProfileCheckTest, SaysWhyAPathCannotBeTheProfile) {
    EXPECT_EQ(Check(dir.Path()), Result(ProfileFileState::kUnusable, "is a folder"));
    // A file where a folder of the path should be.
    CTempDir::Write(path, "[Configuration]\n");
    EXPECT_EQ(Check(path + "/volnex.INI"),
              Result(ProfileFileState::kUnusable, "Not a directory"));
    // A pipe is not opened (that would wait for a writer).
    ASSERT_EQ(mkfifo(dir.Path("pipe").c_str(), 0600), 0);
    EXPECT_EQ(Check(dir.Path("pipe")),
              Result(ProfileFileState::kUnusable, "is not a regular file"));
    if (geteuid() != 0) { // root reads any file
        chmod(path.c_str(), 0);
        EXPECT_EQ(Check(path),
                  Result(ProfileFileState::kUnusable, "Permission denied"));
    }
}

TEST_F(ProfileCheckTest, BinaryDataIsNoProfile) {
    std::string strElf = "\x7F"
                         "ELF\x02\x01\x01";
    strElf += std::string(9, '\0') + "[Configuration]\nCommPort=COM1\n";
    CTempDir::Write(path, strElf);
    EXPECT_EQ(Check(path), Result(ProfileFileState::kUnusable, "is not a text file"));
    for (size_t nSize : {12u, 200u, 70000u}) {
        CTempDir::Write(path, NoiseWithoutNul(nSize));
        EXPECT_EQ(Check(path),
                  Result(ProfileFileState::kUnusable, "is not a text file"))
            << nSize << " bytes";
    }
    CTempDir::Write(path, std::string("\xFF\xFE[\0C\0]\0\r\0\n\0", 12));
    EXPECT_EQ(Check(path),
              Result(ProfileFileState::kUnusable, "is UTF-16 text: save it as UTF-8"));
}

TEST(LooksLikeTextTest, AProfileEditedByHandStaysText) {
    // A stray control character, DOS line ends and end mark, a form feed,
    // Latin-1 letters, a byte order mark, UTF-8 letters.
    EXPECT_TRUE(LooksLikeText("[Configuration]\r\nDevice1=/dev/tty\x1bUSB0\r\n\x1a"));
    EXPECT_TRUE(LooksLikeText("; Einstellungen f\xfcr die Leitung\n\f[Configuration]\n"
                              "Password1=\xe4\xf6\xfc\n"));
    EXPECT_TRUE(
        LooksLikeText("\xEF\xBB\xBF[Configuration]\nPassword1=\xc3\xa4\xe2\x82\xac\n"));
    EXPECT_TRUE(LooksLikeText(""));
    EXPECT_TRUE(LooksLikeText("[Configuration]\nMisbehave1=\x01\x02\n"));
}

TEST(LooksLikeTextTest, ANulOrMostlyOddBytesAreNotText) {
    EXPECT_FALSE(LooksLikeText(std::string("[Configuration]\n\0", 17)));
    EXPECT_FALSE(LooksLikeText("\x01\x02\x03x"));
    // Overlong and surrogate forms are no UTF-8: Latin-1 bytes in a row.
    EXPECT_FALSE(LooksLikeText("\xC0\xAF\xED\xA0\x80\xF5\x80"
                               "ab"));
}

TEST(ProfilePathTest, FollowsXdgConfigHomeThenHome) {
    const char* szOldXdg = std::getenv("XDG_CONFIG_HOME");
    std::string oldXdg = szOldXdg ? szOldXdg : "";
    setenv("XDG_CONFIG_HOME", "/x/cfg", 1);
    EXPECT_EQ(DefaultProfilePath(), "/x/cfg/volnex.INI");
    unsetenv("XDG_CONFIG_HOME");
    const char* szHome = std::getenv("HOME");
    EXPECT_EQ(DefaultProfilePath("other"),
              std::string(szHome ? szHome : ".") + "/.config/other.INI");
    if (szOldXdg)
        setenv("XDG_CONFIG_HOME", oldXdg.c_str(), 1);
}

} // namespace
