// Engine cost per page: blocks fed through HandleChar, as the session does,
// with an owner that takes every write and reads each page's text and
// result like the session. No port: the engine's own cost.
#include "engine/Checksum.h"
#include "engine/PageTerminal.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

class CSessionLike : public ITerminalOutput {
  public:
    unsigned long nGood = 0, nBad = 0, nTextBytes = 0, nWritten = 0;
    void Purge(unsigned) override {}
    void Write(const std::string& strBytes) override { nWritten += strBytes.size(); }
    void HangUp() override {}
    bool IsNetworkLine() const override { return false; }
    bool HasNoModemLines() const override { return false; }
    int GetPortNumber() const override { return 1; }
    std::string DescribeLine() const override { return {}; }
    void OnState(int) override {}
    void OnPage(const CPageResult& page) override {
        nTextBytes += page.strText.size() + page.strResult.size();
        (page.bAccepted ? nGood : nBad)++;
    }
    void OnTrace(const std::string&) override {}
    void OnNote(const std::string&) override {}
    void OnFault(const std::string&) override {}
};

} // namespace

int main() {
    CSessionLike view;
    CPageTerminal engine(view);
    engine.LineSetUp(true);
    engine.OnLevels(true, true);
    engine.LoggedOn(true, true, true);
    for (char ch : std::string("\r\x1bPG1\r"))
        engine.HandleChar(static_cast<unsigned char>(ch));

    const std::string strBlock = MakePageBlock("1234", "NURSE CALL ROOM 12 BED 3");
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
        MakePageBlocks("1234", std::string(250, 'M'), 250);
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
