// CTerminalPort: the paging engine answering on a serial port.
//
// It owns both and joins them: the engine's purges, writes and hang-ups go
// to the port, the engine asks the port what kind of line it is, and the
// engine's news (state, pages, trace, notes) go on to the owner's
// ITerminalEvents. The port's own news (received bytes, line levels, its
// notes) go to the owner's IPortEvents, which hands the bytes to
// Engine().HandleChar and the level changes to CheckLineSignals.
//
// Threads: as CCommPort. The engine is called on the thread the port
// delivers on (the user-interface thread, or the monitor thread under the
// owner's lock), and tells its news on that thread before it returns.
#pragma once

#include "engine/PageTerminal.h"
#include "serial/CommPort.h"

#include <memory>
#include <string>

class IMessageBoxes;

class CTerminalPort : private ITerminalOutput {
  public:
    // pDevice: a device of a test's making; null for the one the port's
    // path names.
    explicit CTerminalPort(ITerminalEvents& events,
                           std::unique_ptr<ISerialDevice> pDevice = nullptr);
    ~CTerminalPort() override;

    CTerminalPort(const CTerminalPort&) = delete;
    CTerminalPort& operator=(const CTerminalPort&) = delete;

    CCommPort& Port() { return *m_pPort; }
    const CCommPort& Port() const { return *m_pPort; }
    CPageTerminal& Engine() { return m_engine; }
    const CPageTerminal& Engine() const { return m_engine; }

    // Where the open failure's box goes (and the port's own boxes).
    void SetMessageBoxes(IMessageBoxes* pBoxes);

    // Sets the port up, starts its monitor thread and writes ESC EOT CR. A
    // port that cannot be opened is said in a box ("Unable to Open
    // CommPort...", with the device and why), or on standard error without
    // boxes.
    bool Connect(IPortEvents* pOwner, const CLineSettings& line);
    // Connect, then reads DSR and DCD afresh; a logged-off session waits for
    // a CR again when both are on.
    bool Logon(IPortEvents* pOwner, const CLineSettings& line);
    // After the port notified a DSR or DCD change: the engine sees the
    // levels the port has now.
    void CheckLineSignals();

  private:
    void Purge(unsigned nFlags) override;
    void Write(const std::string& strBytes) override;
    void HangUp() override;
    bool IsNetworkLine() const override;
    bool HasNoModemLines() const override;
    int GetPortNumber() const override;
    std::string DescribeLine() const override;
    void OnState(int nState) override;
    void OnPage(const CPageResult& page) override;
    void OnTrace(const std::string& strSent) override;
    void OnNote(const std::string& strNote) override;
    void OnFault(const std::string& strText) override;

    ITerminalEvents& m_events;
    IMessageBoxes* m_pBoxes = nullptr;
    std::unique_ptr<CCommPort> m_pPort;
    CPageTerminal m_engine{*this};
};
