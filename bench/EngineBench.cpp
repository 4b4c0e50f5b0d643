// Engine cost per page: blocks fed through HandleChar, as the view does,
// with a device that takes everything and a notification target that reads
// the page text and result like the view.
#include "engine/PageTerminal.h"
#include "tools/veldrin-sim/Caller.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// A device with modem lines on and nothing to read.
class CNullDevice : public ISerialDevice {
  public:
    int Open(const std::string&) override { return 0; }
    void Close() override {}
    bool IsOpen() const override { return true; }
    int PollFd() const override { return -1; }
    int ReadSettings() override { return 0; }
    int WriteSettings(const CLineFormat&, const CFlowControlModes&) override {
        return 0;
    }
    int WriteBinaryMode() override { return 0; }
    int Flush(bool, bool) override { return 0; }
    int BytesWaiting(int* pnCount) override {
        *pnCount = 0;
        return 0;
    }
    ssize_t Read(unsigned char*, size_t) override { return 0; }
    ssize_t Write(const char*, size_t nSize) override {
        return static_cast<ssize_t>(nSize);
    }
    int WaitWritable(int) override { return 0; }
    int GetModemStatus(unsigned* pnStatus) override {
        *pnStatus = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
        return 0;
    }
};

class CViewLike : public INotifyTarget {
  public:
    CPageTerminal* pEngine = nullptr;
    unsigned long nGood = 0, nBad = 0, nTextBytes = 0;
    long Notify(unsigned nMsg, WPARAM, LPARAM lParam) override {
        switch (nMsg) {
        case UM_COMM_DSR:
        case UM_COMM_DCD: pEngine->CheckLineSignals(); break;
        case UM_PAGE_RESULT:
            nTextBytes +=
                pEngine->GetPageText().size() + pEngine->GetResultText().size();
            (lParam ? nGood : nBad)++;
            break;
        case UM_PROTOCOL_TRACE: AdoptTraceText(lParam); break;
        default: break;
        }
        return 0;
    }
};

} // namespace

int main() {
    CViewLike view;
    CPageTerminal engine(std::make_unique<CNullDevice>());
    view.pEngine = &engine;
    engine.Logon(&view, 1, 9600, 'N', 8, 1, 1, 1, 0, 0, 0x39, 512);
    for (char ch : std::string("\r\x1bPG1\r"))
        engine.HandleChar(static_cast<unsigned char>(ch));

    const std::string strBlock = CCaller::MakeBlock("1234", "NURSE CALL ROOM 12 BED 3");
    constexpr int kPages = 500000;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kPages; ++i) {
        for (char ch : strBlock)
            engine.HandleChar(static_cast<unsigned char>(ch));
    }
    double dSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("engine: %d pages of %zu bytes in %.3f s: %.0f pages/s, %.2f us a page "
                "(%lu accepted)\n",
                kPages, strBlock.size(), dSeconds, kPages / dSeconds,
                dSeconds * 1e6 / kPages, view.nGood);
    if (view.nGood != static_cast<unsigned long>(kPages))
        return 1;

    // Pages of 250 characters: two blocks each, as a sender splits them.
    const std::vector<std::string> blocks =
        CCaller::MakeBlocks("1234", std::string(250, 'M'), 250);
    size_t nBytes = 0;
    for (const std::string& strPart : blocks)
        nBytes += strPart.size();
    constexpr int kLongPages = 100000;
    view.nGood = 0;
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < kLongPages; ++i) {
        for (const std::string& strPart : blocks)
            for (char ch : strPart)
                engine.HandleChar(static_cast<unsigned char>(ch));
    }
    dSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("engine: %d pages of 250 characters (%zu blocks, %zu bytes) in %.3f s: "
                "%.0f pages/s (%lu accepted)\n",
                kLongPages, blocks.size(), nBytes, dSeconds, kLongPages / dSeconds,
                view.nGood);
    return view.nGood == static_cast<unsigned long>(kLongPages) ? 0 : 1;
}
