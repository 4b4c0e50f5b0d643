// The real services the delivery tests talk to, each a child process on
// 127.0.0.1 and a free port: an MQTT broker (mosquitto, plain and TLS with
// a throw-away CA), the HTTP and SMTP receivers of this folder
// (http_receiver.py, smtp_receiver.py, run with /usr/bin/python3), and an
// MQTT subscriber to read what the broker passed on.
//
// Start() waits, for a bounded time, until the service listens; Stop()
// kills and reaps it, and so does the destructor, so that a test that
// fails half-way leaves nothing running. Each object has its own temporary
// folder (configuration, certificates, logs) removed with it. One thread
// drives each object; CMqttSubscriber collects on a thread of its own and
// may be read from any.
#pragma once

#include "../TempDir.h"

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct mosquitto;

// A program started without a shell, its standard output on a pipe.
class CChildProcess {
  public:
    CChildProcess() = default;
    ~CChildProcess() { Stop(); }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // argv[0] is the program's path; its standard error goes to
    // strErrorFile (appended), its standard input is /dev/null.
    bool Start(const std::vector<std::string>& argv, const std::string& strErrorFile,
               std::string* pstrError);
    // Reads standard output until a line holds strText (*pstrLine gets
    // it); false when the output ends (the program ended) or the time is up.
    bool WaitForLine(const std::string& strText, int nTimeoutMs, std::string* pstrLine);
    // SIGKILL and reap; nothing when it is not running.
    void Stop();
    pid_t Pid() const { return m_pid; }

  private:
    pid_t m_pid = -1;
    int m_fdOutput = -1;
    std::string m_strPending; // output read after the last whole line
};

// Runs a program to its end (openssl, mosquitto_passwd); its exit status,
// or -1 when it could not run. Standard error goes to strErrorFile.
int RunProgram(const std::vector<std::string>& argv, const std::string& strErrorFile);
// A TCP port on 127.0.0.1 that nothing listens on just now.
int FreePort();
// Waits until done() holds, looking again whenever a file in the folder
// changes; false when the time is up first.
bool WaitForChange(const std::string& strFolder, const std::function<bool()>& done,
                   int nTimeoutMs);
// Waits until the process has ended (a zombie counts); false when the time
// is up first.
bool WaitForProcessEnd(pid_t pid, int nTimeoutMs);

// A port on 127.0.0.1 where connections are made (the kernel completes
// them) and nobody ever reads or answers: a peer that hangs from the start.
class CSilentListener {
  public:
    CSilentListener();
    ~CSilentListener();
    CSilentListener(const CSilentListener&) = delete;
    CSilentListener& operator=(const CSilentListener&) = delete;
    int Port() const { return m_nPort; } // 0 when it could not listen
    // True once a connection is waiting; false when the time is up.
    bool WaitForConnection(int nTimeoutMs) const;

  private:
    int m_fd = -1;
    int m_nPort = 0;
};

// A CA made for one test, the certificate of a server on 127.0.0.1 and
// localhost it signed, and a second CA that signed nothing (the wrong one).
class CThrowawayCa {
  public:
    bool Create(const std::string& strFolder, std::string* pstrError);
    const std::string& CaFile() const { return m_strCa; }
    const std::string& CertFile() const { return m_strCert; }
    const std::string& KeyFile() const { return m_strKey; }
    const std::string& OtherCaFile() const { return m_strOtherCa; }

  private:
    std::string m_strCa, m_strCert, m_strKey, m_strOtherCa;
};

// mosquitto on 127.0.0.1: a plain listener, and a TLS one when asked.
class CMosquittoBroker {
  public:
    struct COptions {
        bool bTls = false;
        std::string strUser; // with a password: only this login is let in
        std::string strPassword;
        int nPort = 0; // 0: a free port (a restart passes the old one)
        int nTlsPort = 0;
    };
    bool Start(const COptions& options, std::string* pstrError);
    void Stop() { m_process.Stop(); }
    pid_t Pid() const { return m_process.Pid(); }
    int Port() const { return m_nPort; }
    int TlsPort() const { return m_nTlsPort; }
    // The CA that signed the TLS listener's certificate, and one that did not.
    const std::string& CaFile() const { return m_ca.CaFile(); }
    const std::string& OtherCaFile() const { return m_ca.OtherCaFile(); }

  private:
    bool StartOnce(const COptions& options, std::string* pstrError);

    CTempDir m_folder;
    CThrowawayCa m_ca;
    bool m_bHaveCa = false;
    CChildProcess m_process;
    int m_nPort = 0;
    int m_nTlsPort = 0;
};

struct CMqttMessage {
    std::string strTopic;
    std::string strPayload;
    int nQos = 0;
    bool bRetain = false;
};

// A client subscribed to a topic filter on a broker, keeping what comes.
class CMqttSubscriber {
  public:
    CMqttSubscriber() = default;
    ~CMqttSubscriber() { Stop(); }
    CMqttSubscriber(const CMqttSubscriber&) = delete;
    CMqttSubscriber& operator=(const CMqttSubscriber&) = delete;

    // Connected and subscribed (at QoS 2) when it returns true.
    bool Start(int nPort, const std::string& strFilter, std::string* pstrError,
               const std::string& strUser = "", const std::string& strPassword = "");
    void Stop();
    std::vector<CMqttMessage> Received() const;
    // True once at least nCount messages came; false when the time is up.
    bool WaitFor(size_t nCount, int nTimeoutMs) const;

  private:
    static void OnSubscribe(mosquitto*, void* pSelf, int, int, const int*);
    static void OnMessage(mosquitto*, void* pSelf,
                          const struct mosquitto_message* pMessage);

    mosquitto* m_pClient = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_bSubscribed = false;
    std::vector<CMqttMessage> m_messages;
};

struct CHttpRequest {
    std::string strMethod;
    std::string strPath;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string strBody;
    std::string strClient; // "127.0.0.1:<port>": the connection it came on
    // The first header of that name (any case); empty when there is none.
    std::string Header(const std::string& strName) const;
    bool HasHeader(const std::string& strName) const;
};

// http_receiver.py on 127.0.0.1 and a free port.
class CHttpReceiver {
  public:
    // bTls: HTTPS with a certificate of a throw-away CA.
    bool Start(std::string* pstrError, bool bTls = false);
    void Stop() { m_process.Stop(); }
    int Port() const { return m_nPort; }
    const std::string& CaFile() const { return m_ca.CaFile(); }
    const std::string& OtherCaFile() const { return m_ca.OtherCaFile(); }
    // "http://127.0.0.1:<port>" + strPath (https:// with TLS)
    std::string Url(const std::string& strPath) const;
    // How the next requests are answered ("500", "429 7", "hang", ...; see
    // http_receiver.py); empty: 200.
    void SetControl(const std::string& strLine);
    std::vector<CHttpRequest> Received() const;
    // True once at least nCount requests came; false when the time is up.
    bool WaitFor(size_t nCount, int nTimeoutMs) const;

  private:
    CTempDir m_folder;
    CThrowawayCa m_ca;
    CChildProcess m_process;
    int m_nPort = 0;
    bool m_bTls = false;
};

struct CMail {
    std::string strFrom;
    std::vector<std::string> to;
    std::string strData;    // the whole mail as it came, headers and body
    std::string strSubject; // decoded by the receiver's mail parser
    std::string strText;    // the body, transfer encoding undone
    std::string strLogin;
    bool bTls = false;
    // A header's value as it stands in the mail; empty when there is none.
    std::string Header(const std::string& strName) const;
    std::string Body() const;
};

// smtp_receiver.py on 127.0.0.1 and a free port.
class CSmtpReceiver {
  public:
    struct COptions {
        std::string strUser; // with a password: a login is required
        std::string strPassword;
        bool bStartTls = false;    // STARTTLS offered and required
        bool bImplicitTls = false; // smtps
    };
    bool Start(const COptions& options, std::string* pstrError);
    void Stop() { m_process.Stop(); }
    int Port() const { return m_nPort; }
    const std::string& CaFile() const { return m_ca.CaFile(); }
    const std::string& OtherCaFile() const { return m_ca.OtherCaFile(); }
    // "451", "550", "rcpt550", "hang" (see smtp_receiver.py); empty: accept.
    void SetControl(const std::string& strLine);
    std::vector<CMail> Received() const;
    // True once at least nCount mails came; false when the time is up.
    bool WaitFor(size_t nCount, int nTimeoutMs) const;

  private:
    CTempDir m_folder;
    CThrowawayCa m_ca;
    CChildProcess m_process;
    int m_nPort = 0;
};
