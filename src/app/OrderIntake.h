#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "app/OrderBook.h"

namespace kds {

class TKivoXmlParse;

// What one intake did; the window shows nothing of it.
struct TIntakeResult {
    int Found = 0;   // entries matching the pattern
    int TakenIn = 0; // files whose order went into the book
    int Failed = 0;  // entries left in KDS/Before because they could not be taken in
    int Moved = 0;   // files moved into KDS/AFTER (retried moves included)
    int Retried = 0; // files taken in earlier whose move alone was tried again
};

// The order file intake (the window's Action1): takes every order file of
// <ProgramDir>/KDS/Before into the order book and moves it to
// <ProgramDir>/KDS/AFTER. Neither folder is created.
//
// - Entries are those whose name matches "*.xml" without regard to case,
//   hidden ones and folders included, taken in byte order of their names.
// - A file is taken in whole or not at all: on any error (no document, a
//   parse or read error, a file of 64 MiB or more, no Order element, a
//   SaleQty not in the locale's number format, ...) every row it stored is
//   removed again, its pending rows are cancelled, the file stays where it is
//   and the scan goes on. Nothing is reported.
// - The move never replaces a file in KDS/AFTER. A file taken in whose move
//   fails is remembered (name, device, inode, size, modification time): while
//   it stays unchanged, later intakes by this object only try the move again
//   instead of taking the order in a second time.
// - One line per `item` element of `Detail`, in document order; other nodes
//   there are skipped. A file of more than MaxLinesPerOrder items fails: no
//   real order is that long, and a file packed with empty items would
//   otherwise grow the book by a gigabyte.
//
// Ownership: uses the book it was given, which must outlive it. Window thread
// only (it drives the book's datasets). Raises nothing for a file's fault;
// what the book raises outside a file's intake (none expected) passes through.
class TOrderIntake {
public:
    static constexpr int MaxLinesPerOrder = 10000;

    explicit TOrderIntake(TOrderBook& Book);

    TIntakeResult Execute(const std::filesystem::path& ProgramDir);

private:
    struct TFileIdentity {
        std::uint64_t Device = 0;
        std::uint64_t Inode = 0;
        std::int64_t Size = 0;
        std::int64_t MTimeSec = 0;
        std::int64_t MTimeNsec = 0;
        bool operator==(const TFileIdentity&) const = default;
    };

    // The book's fields, looked up once per intake.
    struct TBookFields {
        TField *TA001, *TA002, *TA003, *TA006, *TableNo, *DeliveryType;
        TField *TB001, *TB002, *TB003, *TB006, *PluName, *SaleQty, *DoItemOK;
    };

    // Takes one file in, whole or not at all; true when its order is in the book.
    bool TakeIn(const std::string& FileName, const TBookFields& F);
    static bool Identify(const std::string& FileName, TFileIdentity& Out);

    TOrderBook& FBook;
    std::map<std::string, TFileIdentity> FUnmoved; // taken in, still in KDS/Before
};

// ReadValue of the intake: the value of the current node's child element
// Name, the cursor ending where it started; empty text when there is none.
std::string ReadValue(TKivoXmlParse& Cursor, const std::string& Name);

} // namespace kds
