#include "JSONNodeCache.h"

#include <new>

#include "data/DBXJSON.h"

namespace kds {

// Node memory: TJSONAncestor's operator new and delete over a per-thread
// cache of freed chunks (see data/DBXJSON.h).

#if defined(__SANITIZE_ADDRESS__)
#define KDS_JSON_NODE_CACHE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KDS_JSON_NODE_CACHE 0
#endif
#endif
#ifndef KDS_JSON_NODE_CACHE
#define KDS_JSON_NODE_CACHE 1
#endif

namespace {

constexpr std::size_t CacheGranule = 16;
constexpr std::size_t CacheClasses = 4; // node sizes up to 64 bytes
// Bytes of freed node memory a thread keeps; the rest goes back to the heap.
constexpr std::size_t CacheBudget = std::size_t(1) << 20;

struct TFreeNode {
    TFreeNode* Next;
};

// Set once the thread's cache has been flushed at thread exit; nodes freed
// later (by other thread-exit code) go straight back to the heap.
thread_local bool CacheGone = false;

struct TNodeCache {
    TFreeNode* Heads[CacheClasses] = {};
    std::size_t Bytes = 0;
    TJSONParserStacks Stacks;

    ~TNodeCache() {
        CacheGone = true;
        for (TFreeNode*& Head : Heads)
            while (TFreeNode* Node = Head) {
                Head = Node->Next;
                ::operator delete(Node);
            }
    }
};

thread_local TNodeCache NodeCache;

} // namespace

TJSONParserStacks* ThreadParserStacks() {
    return CacheGone ? nullptr : &NodeCache.Stacks;
}

void* TJSONAncestor::operator new(std::size_t Size) {
    const std::size_t Class = (Size - 1) / CacheGranule;
    if (Class >= CacheClasses)
        return ::operator new(Size);
    if (KDS_JSON_NODE_CACHE && !CacheGone) {
        TNodeCache& Cache = NodeCache;
        if (TFreeNode* Node = Cache.Heads[Class]) {
            Cache.Heads[Class] = Node->Next;
            Cache.Bytes -= (Class + 1) * CacheGranule;
            return Node;
        }
    }
    // Every chunk of a class has the class's full size, so that any node of
    // the class can reuse it.
    return ::operator new((Class + 1) * CacheGranule);
}

void TJSONAncestor::operator delete(void* Node, std::size_t Size) noexcept {
    const std::size_t Class = (Size - 1) / CacheGranule;
    if (KDS_JSON_NODE_CACHE && Class < CacheClasses && !CacheGone) {
        TNodeCache& Cache = NodeCache;
        const std::size_t Chunk = (Class + 1) * CacheGranule;
        if (Cache.Bytes + Chunk <= CacheBudget) {
            auto* Free = static_cast<TFreeNode*>(Node);
            Free->Next = Cache.Heads[Class];
            Cache.Heads[Class] = Free;
            Cache.Bytes += Chunk;
            return;
        }
    }
    ::operator delete(Node);
}

} // namespace kds
