#include "server/wire/DBXFilterSocketChannel.h"

#include <algorithm>
#include <cstring>

#include "base/DBXError.h"

namespace kds {

namespace {
const TDBXProperties NoProperties;
}

void TDBXFilterSocketChannel::Open() {
    if (FDelegate)
        FDelegate->Open();
}

void TDBXFilterSocketChannel::Close() {
    if (FDelegate)
        FDelegate->Close();
}

bool TDBXFilterSocketChannel::GetConnectionLost() const {
    return FDelegate && FDelegate->GetConnectionLost();
}

int TDBXFilterSocketChannel::WatchDescriptor() const {
    return FDelegate ? FDelegate->WatchDescriptor() : -1;
}

TDBXChannelInfo* TDBXFilterSocketChannel::GetChannelInfo() const {
    return FDelegate ? FDelegate->GetChannelInfo() : nullptr;
}

const TDBXProperties& TDBXFilterSocketChannel::GetDBXProperties() const {
    return FDelegate ? FDelegate->GetDBXProperties() : NoProperties;
}

void TDBXFilterSocketChannel::SetFilterList(const std::vector<std::string>& Filters) {
    if (!Filters.empty())
        throw TDBXError(TDBXErrorCodes::NotSupported,
                        "Transport filters are not available: no filter is configured");
    FFilterList.clear();
}

int32_t TDBXFilterSocketChannel::TakeHeld(uint8_t* Buffer, int32_t Offset, int32_t Count) {
    const int32_t Take = std::min(Count, FHeldTo - FHeldFrom);
    std::memcpy(Buffer + Offset, FHeaderData + FHeldFrom, static_cast<size_t>(Take));
    FHeldFrom += Take;
    return Take;
}

int32_t TDBXFilterSocketChannel::Read(uint8_t* Buffer, int32_t Offset, int32_t Count) {
    if (!FDelegate)
        throw TDBXError(TDBXErrorCodes::None, "Connection lost");
    if (FFilterFlag != 0) {
        if (FHeldFrom < FHeldTo)
            return TakeHeld(Buffer, Offset, Count);
        return FDelegate->Read(Buffer, Offset, Count);
    }
    // The probe: exactly five bytes, however the peer's bytes arrive.
    int32_t Have = 0;
    while (Have < HeaderSize) {
        const int32_t Got = FDelegate->Read(FHeaderData, Have, HeaderSize - Have);
        if (Got <= 0)
            return -1;
        Have += Got;
    }
    FFilterFlag = -1;
    bool Probe = true;
    for (uint8_t B : FHeaderData)
        Probe = Probe && B == ProbeByte;
    if (Probe) {
        static const uint8_t NoFilters[HeaderSize] = {NoFiltersByte, 0, 0, 0, 0};
        FDelegate->Write(NoFilters, 0, HeaderSize);
        return FDelegate->Read(Buffer, Offset, Count);
    }
    // The five bytes start the first request; what the peer sent behind
    // them comes in the same read when the caller has room for it.
    FHeldFrom = 0;
    FHeldTo = HeaderSize;
    const int32_t Held = TakeHeld(Buffer, Offset, Count);
    if (Held < HeaderSize || Count == Held)
        return Held;
    const int32_t More = FDelegate->Read(Buffer, Offset + Held, Count - Held);
    return More > 0 ? Held + More : Held;
}

int32_t TDBXFilterSocketChannel::Write(const uint8_t* Buffer, int32_t Offset, int32_t Count) {
    if (Count == 0)
        return 0;
    if (!FDelegate)
        throw TDBXError(TDBXErrorCodes::None, "Connection lost");
    return FDelegate->Write(Buffer, Offset, Count);
}

} // namespace kds
