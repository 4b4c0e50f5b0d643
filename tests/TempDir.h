// A temporary folder removed with everything in it at the end of the test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class CTempDir {
  public:
    CTempDir() {
        char szTemplate[] = "/tmp/volnex-test-XXXXXX";
        m_path = mkdtemp(szTemplate);
    }
    ~CTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    std::string Path(const std::string& strName = "") const {
        return strName.empty() ? m_path : m_path + "/" + strName;
    }
    static void Write(const std::string& strPath, const std::string& strText) {
        std::ofstream(strPath, std::ios::binary) << strText;
    }
    static std::string Read(const std::string& strPath) {
        std::ifstream in(strPath, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

  private:
    std::string m_path;
};
