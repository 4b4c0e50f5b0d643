#include "Receivers.h"

#include <mosquitto.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The receivers' scripts lie beside this file; the Debian python has
// aiosmtpd, whatever python3 comes first on PATH.
const std::string kScriptFolder = [] {
    const std::string strFile = __FILE__;
    return strFile.substr(0, strFile.rfind('/'));
}();
constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kMosquitto = "/usr/sbin/mosquitto";
// mosquitto's log on a pipe is block-buffered; its "running" line must come
// when it is written.
constexpr const char* kLineBuffered = "/usr/bin/stdbuf";
constexpr const char* kMosquittoPasswd = "/usr/bin/mosquitto_passwd";
constexpr const char* kOpenssl = "/usr/bin/openssl";
// How long a service may take to listen.
constexpr int kStartMs = 10000;
// A port taken between FreePort and the service's bind: another try.
constexpr int kStartTries = 3;

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& strText : texts)
        pointers.push_back(strText.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Spawns argv with stdin from /dev/null, stdout to fdOutput (or /dev/null
// when -1) and stderr appended to strErrorFile.
pid_t Spawn(std::vector<std::string> argv, int fdOutput,
            const std::string& strErrorFile, std::string* pstrError) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (fdOutput >= 0)
        posix_spawn_file_actions_adddup2(&actions, fdOutput, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY,
                                         0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO,
                                     strErrorFile.empty() ? "/dev/null"
                                                          : strErrorFile.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    std::vector<char*> args = Pointers(argv);
    pid_t pid = -1;
    const int nError =
        posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nError != 0) {
        *pstrError = argv[0] + ": " + std::strerror(nError);
        return -1;
    }
    return pid;
}

std::string ReadFile(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The complete lines of a JSON-lines log, each parsed; a line still being
// written is left for the next look.
std::vector<nlohmann::json> JsonLines(const std::string& strPath) {
    std::vector<nlohmann::json> entries;
    std::istringstream in(ReadFile(strPath));
    std::string strLine;
    while (std::getline(in, strLine)) {
        if (in.eof())
            break; // no newline after it: not written whole yet
        nlohmann::json entry = nlohmann::json::parse(strLine, nullptr, false);
        if (!entry.is_discarded())
            entries.push_back(std::move(entry));
    }
    return entries;
}

void WriteControl(const std::string& strPath, const std::string& strLine) {
    const std::string strNew = strPath + ".new";
    std::ofstream(strNew, std::ios::binary) << strLine << "\n";
    std::rename(strNew.c_str(), strPath.c_str());
}

std::string LowerCase(std::string strText) {
    for (char& c : strText)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return strText;
}

// Waits for "PORT <n>" from a receiver script.
bool ReadPort(CChildProcess* pProcess, int* pnPort, std::string* pstrError) {
    std::string strLine;
    if (!pProcess->WaitForLine("PORT ", kStartMs, &strLine)) {
        *pstrError = "the receiver did not start listening";
        return false;
    }
    *pnPort = std::atoi(strLine.substr(strLine.find("PORT ") + 5).c_str());
    return *pnPort > 0;
}

} // namespace

bool CChildProcess::Start(const std::vector<std::string>& argv,
                          const std::string& strErrorFile, std::string* pstrError) {
    Stop();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        *pstrError = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    m_pid = Spawn(argv, fds[1], strErrorFile, pstrError);
    close(fds[1]);
    if (m_pid < 0) {
        close(fds[0]);
        return false;
    }
    m_fdOutput = fds[0];
    m_strPending.clear();
    return true;
}

bool CChildProcess::WaitForLine(const std::string& strText, int nTimeoutMs,
                                std::string* pstrLine) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        for (size_t nEnd = m_strPending.find('\n'); nEnd != std::string::npos;
             nEnd = m_strPending.find('\n')) {
            const std::string strLine = m_strPending.substr(0, nEnd);
            m_strPending.erase(0, nEnd + 1);
            if (strLine.find(strText) != std::string::npos) {
                *pstrLine = strLine;
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - Clock::now());
        if (m_fdOutput < 0 || left.count() <= 0)
            return false;
        pollfd fd = {m_fdOutput, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count()) + 1) <= 0)
            continue;
        char buffer[4096];
        const ssize_t nRead = read(m_fdOutput, buffer, sizeof buffer);
        if (nRead <= 0 && errno != EINTR)
            return false;
        if (nRead > 0)
            m_strPending.append(buffer, static_cast<size_t>(nRead));
    }
}

void CChildProcess::Stop() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    m_pid = -1;
    if (m_fdOutput >= 0)
        close(m_fdOutput);
    m_fdOutput = -1;
}

int RunProgram(const std::vector<std::string>& argv, const std::string& strErrorFile) {
    std::string strIgnored;
    const pid_t pid = Spawn(argv, -1, strErrorFile, &strIgnored);
    if (pid < 0)
        return -1;
    int nStatus = 0;
    while (waitpid(pid, &nStatus, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof address;
    int nPort = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nLength) == 0)
        nPort = ntohs(address.sin_port);
    close(fd);
    return nPort;
}

CSilentListener::CSilentListener() {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof address;
    if (m_fd >= 0 &&
        bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(m_fd, 16) == 0 &&
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &nLength) == 0)
        m_nPort = ntohs(address.sin_port);
}

bool CSilentListener::WaitForConnection(int nTimeoutMs) const {
    pollfd fd = {m_fd, POLLIN, 0};
    return m_fd >= 0 && poll(&fd, 1, nTimeoutMs) == 1;
}

CSilentListener::~CSilentListener() {
    if (m_fd >= 0)
        close(m_fd);
}

bool WaitForChange(const std::string& strFolder, const std::function<bool()>& done,
                   int nTimeoutMs) {
    const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd < 0)
        return done();
    inotify_add_watch(fd, strFolder.c_str(), IN_MODIFY | IN_CREATE | IN_MOVED_TO);
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    bool bDone = done();
    while (!bDone) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd change = {fd, POLLIN, 0};
        if (poll(&change, 1, static_cast<int>(left.count()) + 1) > 0) {
            char events[4096];
            while (read(fd, events, sizeof events) > 0) {
            }
        }
        bDone = done();
    }
    close(fd);
    return bDone;
}

bool WaitForProcessEnd(pid_t pid, int nTimeoutMs) {
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0)
        return errno == ESRCH;
    pollfd ended = {fd, POLLIN, 0};
    const bool bEnded = poll(&ended, 1, nTimeoutMs) == 1;
    close(fd);
    return bEnded;
}

bool CThrowawayCa::Create(const std::string& strFolder, std::string* pstrError) {
    m_strCa = strFolder + "/ca.crt";
    m_strCert = strFolder + "/server.crt";
    m_strKey = strFolder + "/server.key";
    m_strOtherCa = strFolder + "/other-ca.crt";
    const std::string strLog = strFolder + "/openssl.log";
    const std::string strExtensions = strFolder + "/server.ext";
    std::ofstream(strExtensions) << "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                                    "basicConstraints=CA:FALSE\n"
                                    "keyUsage=critical,digitalSignature\n"
                                    "extendedKeyUsage=serverAuth\n";
    auto makeCa = [&](const std::string& strKey, const std::string& strCert,
                      const std::string& strName) {
        return RunProgram({kOpenssl,
                           "req",
                           "-x509",
                           "-newkey",
                           "ec",
                           "-pkeyopt",
                           "ec_paramgen_curve:prime256v1",
                           "-nodes",
                           "-keyout",
                           strKey,
                           "-out",
                           strCert,
                           "-days",
                           "2",
                           "-subj",
                           "/CN=" + strName,
                           "-addext",
                           "basicConstraints=critical,CA:TRUE",
                           "-addext",
                           "keyUsage=critical,keyCertSign,cRLSign"},
                          strLog) == 0;
    };
    const bool bMade =
        makeCa(strFolder + "/ca.key", m_strCa, "Volnex Test CA") &&
        makeCa(strFolder + "/other-ca.key", m_strOtherCa, "Volnex Other CA") &&
        RunProgram({kOpenssl, "req", "-new", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", m_strKey,
                    "-out", strFolder + "/server.csr", "-subj", "/CN=localhost"},
                   strLog) == 0 &&
        RunProgram({kOpenssl, "x509", "-req", "-in", strFolder + "/server.csr", "-CA",
                    m_strCa, "-CAkey", strFolder + "/ca.key", "-CAcreateserial", "-out",
                    m_strCert, "-days", "2", "-extfile", strExtensions},
                   strLog) == 0;
    if (!bMade)
        *pstrError = "openssl failed: " + ReadFile(strLog);
    return bMade;
}

bool CMosquittoBroker::Start(const COptions& options, std::string* pstrError) {
    Stop();
    if (options.bTls && !m_bHaveCa) {
        if (!m_ca.Create(m_folder.Path(), pstrError))
            return false;
        m_bHaveCa = true;
    }
    // Ports chosen here may be taken before the broker binds them: then
    // it ends at once, and new ones are chosen.
    const bool bChosen = options.nPort == 0;
    for (int nTry = 0; nTry < kStartTries; ++nTry) {
        if (StartOnce(options, pstrError))
            return true;
        if (!bChosen)
            break;
    }
    return false;
}

bool CMosquittoBroker::StartOnce(const COptions& options, std::string* pstrError) {
    m_nPort = options.nPort != 0 ? options.nPort : FreePort();
    m_nTlsPort = !options.bTls           ? 0
                 : options.nTlsPort != 0 ? options.nTlsPort
                                         : FreePort();
    const std::string strConfig = m_folder.Path("mosquitto.conf");
    std::ofstream config(strConfig);
    // Run as root (a test on a build machine), it would otherwise switch
    // to the mosquitto user, who cannot read this private folder.
    if (getuid() == 0)
        config << "user root\n";
    // A subscriber that falls behind gets everything, however late: a test
    // that counts what arrived must not lose to the broker's queue limit.
    config << "persistence false\nmax_queued_messages 0\n"
              "log_dest stdout\n"
              "log_type error\nlog_type warning\nlog_type information\n";
    if (!options.strUser.empty()) {
        const std::string strPasswords = m_folder.Path("passwords");
        std::remove(strPasswords.c_str());
        if (RunProgram({kMosquittoPasswd, "-c", "-b", strPasswords, options.strUser,
                        options.strPassword},
                       m_folder.Path("mosquitto_passwd.log")) != 0) {
            *pstrError = "mosquitto_passwd failed";
            return false;
        }
        config << "allow_anonymous false\npassword_file " << strPasswords << "\n";
    } else {
        config << "allow_anonymous true\n";
    }
    config << "listener " << m_nPort << " 127.0.0.1\n";
    if (options.bTls) {
        config << "listener " << m_nTlsPort << " 127.0.0.1\n"
               << "cafile " << m_ca.CaFile() << "\ncertfile " << m_ca.CertFile()
               << "\nkeyfile " << m_ca.KeyFile() << "\n";
    }
    config.close();
    if (!m_process.Start({kLineBuffered, "-oL", kMosquitto, "-c", strConfig},
                         m_folder.Path("mosquitto.err"), pstrError))
        return false;
    std::string strLine;
    if (!m_process.WaitForLine(" running", kStartMs, &strLine)) {
        m_process.Stop();
        *pstrError =
            "mosquitto did not start: " + ReadFile(m_folder.Path("mosquitto.err"));
        return false;
    }
    return true;
}

bool CMqttSubscriber::Start(int nPort, const std::string& strFilter,
                            std::string* pstrError, const std::string& strUser,
                            const std::string& strPassword) {
    Stop();
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });
    m_pClient = mosquitto_new(nullptr, true, this);
    if (m_pClient == nullptr) {
        *pstrError = "mosquitto_new failed";
        return false;
    }
    mosquitto_subscribe_callback_set(m_pClient, OnSubscribe);
    mosquitto_message_callback_set(m_pClient, OnMessage);
    if (!strUser.empty())
        mosquitto_username_pw_set(m_pClient, strUser.c_str(), strPassword.c_str());
    if (mosquitto_connect(m_pClient, "127.0.0.1", nPort, 60) != MOSQ_ERR_SUCCESS ||
        mosquitto_subscribe(m_pClient, nullptr, strFilter.c_str(), 2) !=
            MOSQ_ERR_SUCCESS) {
        *pstrError = "the subscriber cannot connect";
        Stop();
        return false;
    }
    m_bStop = false;
    m_thread = std::thread([this] {
        while (!m_bStop)
            mosquitto_loop(m_pClient, 20, 1);
    });
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(kStartMs),
                            [this] { return m_bSubscribed; })) {
        lock.unlock();
        *pstrError = "the subscription was not confirmed";
        Stop();
        return false;
    }
    return true;
}

void CMqttSubscriber::Stop() {
    m_bStop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_pClient != nullptr) {
        mosquitto_disconnect(m_pClient);
        mosquitto_destroy(m_pClient);
        m_pClient = nullptr;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bSubscribed = false;
}

std::vector<CMqttMessage> CMqttSubscriber::Received() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

bool CMqttSubscriber::WaitFor(size_t nCount, int nTimeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(nTimeoutMs),
                              [&] { return m_messages.size() >= nCount; });
}

void CMqttSubscriber::OnSubscribe(mosquitto*, void* pSelf, int, int, const int*) {
    CMqttSubscriber& self = *static_cast<CMqttSubscriber*>(pSelf);
    std::lock_guard<std::mutex> lock(self.m_mutex);
    self.m_bSubscribed = true;
    self.m_changed.notify_all();
}

void CMqttSubscriber::OnMessage(mosquitto*, void* pSelf,
                                const mosquitto_message* pMessage) {
    CMqttSubscriber& self = *static_cast<CMqttSubscriber*>(pSelf);
    CMqttMessage message;
    message.strTopic = pMessage->topic;
    message.strPayload.assign(static_cast<const char*>(pMessage->payload),
                              static_cast<size_t>(pMessage->payloadlen));
    message.nQos = pMessage->qos;
    message.bRetain = pMessage->retain;
    std::lock_guard<std::mutex> lock(self.m_mutex);
    self.m_messages.push_back(std::move(message));
    self.m_changed.notify_all();
}

std::string CHttpRequest::Header(const std::string& strName) const {
    for (const auto& header : headers) {
        if (LowerCase(header.first) == LowerCase(strName))
            return header.second;
    }
    return std::string();
}

bool CHttpRequest::HasHeader(const std::string& strName) const {
    for (const auto& header : headers) {
        if (LowerCase(header.first) == LowerCase(strName))
            return true;
    }
    return false;
}

bool CHttpReceiver::Start(std::string* pstrError, bool bTls) {
    Stop();
    std::vector<std::string> argv = {kPython,     kScriptFolder + "/http_receiver.py",
                                     "--log",     m_folder.Path("requests.jsonl"),
                                     "--control", m_folder.Path("control")};
    m_bTls = bTls;
    if (bTls) {
        if (m_ca.CaFile().empty() && !m_ca.Create(m_folder.Path(), pstrError))
            return false;
        argv.insert(argv.end(), {"--cert", m_ca.CertFile(), "--key", m_ca.KeyFile()});
    }
    if (!m_process.Start(argv, m_folder.Path("http_receiver.err"), pstrError))
        return false;
    if (!ReadPort(&m_process, &m_nPort, pstrError)) {
        *pstrError += ": " + ReadFile(m_folder.Path("http_receiver.err"));
        m_process.Stop();
        return false;
    }
    return true;
}

std::string CHttpReceiver::Url(const std::string& strPath) const {
    return (m_bTls ? "https" : "http") + std::string("://127.0.0.1:") +
           std::to_string(m_nPort) + strPath;
}

void CHttpReceiver::SetControl(const std::string& strLine) {
    WriteControl(m_folder.Path("control"), strLine);
}

std::vector<CHttpRequest> CHttpReceiver::Received() const {
    std::vector<CHttpRequest> requests;
    for (const nlohmann::json& entry : JsonLines(m_folder.Path("requests.jsonl"))) {
        CHttpRequest request;
        request.strMethod = entry.value("method", "");
        request.strPath = entry.value("path", "");
        request.strBody = entry.value("body", "");
        request.strClient = entry.value("client", "");
        for (const auto& header : entry.value("headers", nlohmann::json::array()))
            request.headers.emplace_back(header.at(0).get<std::string>(),
                                         header.at(1).get<std::string>());
        requests.push_back(std::move(request));
    }
    return requests;
}

bool CHttpReceiver::WaitFor(size_t nCount, int nTimeoutMs) const {
    return WaitForChange(
        m_folder.Path(), [&] { return Received().size() >= nCount; }, nTimeoutMs);
}

std::string CMail::Header(const std::string& strName) const {
    const std::string strWanted = LowerCase(strName) + ":";
    std::istringstream in(strData);
    std::string strLine;
    while (std::getline(in, strLine) && strLine != "\r" && !strLine.empty()) {
        if (LowerCase(strLine.substr(0, strWanted.size())) != strWanted)
            continue;
        std::string strValue = strLine.substr(strWanted.size());
        // Folded lines go on with a blank at their start.
        while (in.peek() == ' ' || in.peek() == '\t') {
            std::string strMore;
            std::getline(in, strMore);
            strValue += "\n" + strMore;
        }
        std::string strResult;
        for (char c : strValue) {
            if (c != '\r')
                strResult += c;
        }
        const size_t nBegin = strResult.find_first_not_of(' ');
        return nBegin == std::string::npos ? std::string() : strResult.substr(nBegin);
    }
    return std::string();
}

std::string CMail::Body() const {
    const size_t nBlank = strData.find("\r\n\r\n");
    return nBlank == std::string::npos ? std::string() : strData.substr(nBlank + 4);
}

bool CSmtpReceiver::Start(const COptions& options, std::string* pstrError) {
    Stop();
    std::vector<std::string> argv = {kPython,     kScriptFolder + "/smtp_receiver.py",
                                     "--log",     m_folder.Path("mails.jsonl"),
                                     "--control", m_folder.Path("control")};
    if (!options.strUser.empty())
        argv.insert(argv.end(),
                    {"--user", options.strUser, "--password", options.strPassword});
    if (options.bStartTls || options.bImplicitTls) {
        if (m_ca.CaFile().empty() && !m_ca.Create(m_folder.Path(), pstrError))
            return false;
        argv.insert(argv.end(), {"--cert", m_ca.CertFile(), "--key", m_ca.KeyFile()});
        if (options.bImplicitTls)
            argv.push_back("--implicit-tls");
    }
    if (!m_process.Start(argv, m_folder.Path("smtp_receiver.err"), pstrError))
        return false;
    if (!ReadPort(&m_process, &m_nPort, pstrError)) {
        *pstrError += ": " + ReadFile(m_folder.Path("smtp_receiver.err"));
        m_process.Stop();
        return false;
    }
    return true;
}

void CSmtpReceiver::SetControl(const std::string& strLine) {
    WriteControl(m_folder.Path("control"), strLine);
}

std::vector<CMail> CSmtpReceiver::Received() const {
    std::vector<CMail> mails;
    for (const nlohmann::json& entry : JsonLines(m_folder.Path("mails.jsonl"))) {
        CMail mail;
        mail.strFrom = entry.value("mail_from", "");
        for (const auto& address : entry.value("rcpt_tos", nlohmann::json::array()))
            mail.to.push_back(address.get<std::string>());
        mail.strData = entry.value("data", "");
        mail.strSubject = entry.value("subject", "");
        mail.strText = entry.value("text", "");
        if (entry.contains("login") && entry["login"].is_string())
            mail.strLogin = entry["login"].get<std::string>();
        mail.bTls = entry.value("tls", false);
        mails.push_back(std::move(mail));
    }
    return mails;
}

bool CSmtpReceiver::WaitFor(size_t nCount, int nTimeoutMs) const {
    return WaitForChange(
        m_folder.Path(), [&] { return Received().size() >= nCount; }, nTimeoutMs);
}
