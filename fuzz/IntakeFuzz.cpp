// One order file of arbitrary content, taken in by a fresh intake into a fresh
// book. Traps unless the outcome is whole or nothing.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/OrderBook.h"
#include "app/OrderIntake.h"

namespace {

namespace fs = std::filesystem;

const fs::path& ProgramFolder() {
    static const fs::path Root = [] {
        std::string Pattern = (fs::temp_directory_path() / "kds-fuzz-XXXXXX").string();
        if (mkdtemp(Pattern.data()) == nullptr)
            std::abort();
        std::atexit([] {
            std::error_code Ec;
            fs::remove_all(ProgramFolder(), Ec);
        });
        return fs::path(Pattern);
    }();
    return Root;
}

void Check(bool Ok) {
    if (!Ok)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    const fs::path Before = ProgramFolder() / "KDS" / "Before";
    const fs::path After = ProgramFolder() / "KDS" / "AFTER";
    fs::remove_all(ProgramFolder() / "KDS");
    fs::create_directories(Before);
    fs::create_directories(After);
    std::ofstream(Before / "o.xml", std::ios::binary)
        .write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));

    kds::TOrderBook Book;
    Book.Create();
    kds::TOrderIntake Intake(Book);
    const kds::TIntakeResult R = Intake.Execute(ProgramFolder());

    Check(R.Found == 1 && R.TakenIn + R.Failed == 1);
    Check(Book.TA().State() == kds::TDataSetState::dsBrowse);
    Check(Book.TB().State() == kds::TDataSetState::dsBrowse);
    if (R.TakenIn == 1) {
        Check(Book.TA().RecordCount() == 1);
        // Every line carries its header's key, so the link shows them all.
        Check(Book.TB().RecordCount() == Book.TB().StoredRecordCount());
        Check(R.Moved == 1 && fs::exists(After / "o.xml") && !fs::exists(Before / "o.xml"));
    } else {
        Check(Book.TA().StoredRecordCount() == 0 && Book.TB().StoredRecordCount() == 0);
        Check(fs::exists(Before / "o.xml") && !fs::exists(After / "o.xml"));
    }
    return 0;
}
