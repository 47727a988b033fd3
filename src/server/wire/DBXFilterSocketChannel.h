#pragma once

// The filter-aware wrapper placed around every connection's channel. No
// transport filter is configured, so it never transforms data; what it does
// is the five-byte probe at the start of each connection:
//
//   first five bytes from the peer   wrapper
//   -------------------------------  ----------------------------------------------
//   05 05 05 05 05                   writes 06 00 00 00 00 ("no filters apply"),
//                                    then serves the peer's next bytes
//   anything else                    hands those five bytes out as the start of
//                                    the first request, nothing lost, with what
//                                    the delegate gives behind them in the same
//                                    read
//
// The probe reads exactly five bytes from the delegate, however they arrive
// (one at a time, or with more behind them). A caller whose Read asks for
// fewer than five bytes gets the held bytes in turn. After the probe every
// Read and Write goes straight to the delegate.
//
// Owns its delegate. One connection thread uses it; nothing locks. Errors of
// the delegate pass through unchanged; a delegate read answering 0 or less
// during the probe makes Read answer -1.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "server/wire/DbxChannel.h"

namespace kds {

class TDBXFilterSocketChannel : public TDbxChannel {
public:
    static constexpr int32_t HeaderSize = 5;
    static constexpr uint8_t ProbeByte = 0x05;
    static constexpr uint8_t NoFiltersByte = 0x06;

    TDBXFilterSocketChannel() = default;
    explicit TDBXFilterSocketChannel(std::unique_ptr<TDbxChannel> Delegate)
        : FDelegate(std::move(Delegate)) {}

    // Forwarded to the delegate.
    void Open() override;
    void Close() override;
    bool GetConnectionLost() const override;
    int WatchDescriptor() const override;
    TDBXChannelInfo* GetChannelInfo() const override;
    const TDBXProperties& GetDBXProperties() const override;

    int32_t Read(uint8_t* Buffer, int32_t Offset, int32_t Count) override;
    int32_t Write(const uint8_t* Buffer, int32_t Offset, int32_t Count) override;

    // Decoded bytes not yet handed out; always false without filters.
    virtual bool HasLeftover() const { return false; }
    virtual bool HasFilters() const { return !FFilterList.empty(); }
    // 0 before the probe, 1 filtered, -1 plain.
    virtual int32_t GetFlag() const { return FFilterFlag; }
    virtual void SetChannel(std::unique_ptr<TDbxChannel> Delegate) {
        FDelegate = std::move(Delegate);
    }
    // The identifiers of the configured filters. Only an empty list is
    // supported: anything else raises TDBXError 5, since no filter exists.
    virtual void SetFilterList(const std::vector<std::string>& Filters);

    TDbxChannel* Delegate() const { return FDelegate.get(); }

private:
    // Hands out held probe bytes; answers how many.
    int32_t TakeHeld(uint8_t* Buffer, int32_t Offset, int32_t Count);

    std::vector<std::string> FFilterList;
    uint8_t FHeaderData[HeaderSize] = {};
    // Probe bytes still to be handed to the caller (plain start of a request).
    int32_t FHeldFrom = 0;
    int32_t FHeldTo = 0;
    std::unique_ptr<TDbxChannel> FDelegate;
    int32_t FFilterFlag = 0;
};

} // namespace kds
