#include "app/OrderIntake.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

#include "app/ProgramFiles.h"
#include "xml/TKivoXmlParse.h"

namespace kds {

namespace {

// An element named item (a namespace prefix allowed), not a comment, text or
// processing instruction that happens to carry that name.
bool IsItemElement(const TXmlNode& Node) {
    return Node.NodeType() == TXmlNodeType::Element && Node.LocalName() == "item";
}

// Names in KDS/Before matching the pattern, in byte order. A folder that
// cannot be read gives none.
std::vector<std::string> OrderFileNames(const std::string& Folder) {
    std::vector<std::string> Names;
    DIR* Dir = opendir(Folder.c_str());
    if (Dir == nullptr)
        return Names;
    while (const dirent* E = readdir(Dir)) {
        const std::string_view N = E->d_name;
        if (N == "." || N == "..")
            continue;
        if (MatchesOrderFilePattern(N))
            Names.emplace_back(N);
    }
    closedir(Dir);
    std::sort(Names.begin(), Names.end());
    return Names;
}

} // namespace

std::string ReadValue(TKivoXmlParse& Cursor, const std::string& Name) {
    std::string Result;
    if (Cursor.IsExistNode(Name)) {
        Cursor.MoveTo(Name);
        Result = Cursor.Value();
        Cursor.MoveUp();
    }
    return Result;
}

TOrderIntake::TOrderIntake(TOrderBook& Book) : FBook(Book) {}

bool TOrderIntake::Identify(const std::string& FileName, TFileIdentity& Out) {
    struct stat St {};
    if (stat(FileName.c_str(), &St) != 0)
        return false;
    Out.Device = static_cast<std::uint64_t>(St.st_dev);
    Out.Inode = static_cast<std::uint64_t>(St.st_ino);
    Out.Size = static_cast<std::int64_t>(St.st_size);
    Out.MTimeSec = static_cast<std::int64_t>(St.st_mtim.tv_sec);
    Out.MTimeNsec = static_cast<std::int64_t>(St.st_mtim.tv_nsec);
    return true;
}

TIntakeResult TOrderIntake::Execute(const std::filesystem::path& ProgramDir) {
    TIntakeResult Result;
    const std::string Before = (ProgramDir / "KDS" / "Before").string() + "/";
    const std::string After = (ProgramDir / "KDS" / "AFTER").string() + "/";
    const std::vector<std::string> Names = OrderFileNames(Before);
    Result.Found = static_cast<int>(Names.size());

    if (Names.empty())
        return Result;
    const TMemoryDataSet& TA = FBook.TA();
    const TMemoryDataSet& TB = FBook.TB();
    const TBookFields Fields{
        &TA.FieldByName("TA001"),   &TA.FieldByName("TA002"),   &TA.FieldByName("TA003"),
        &TA.FieldByName("TA006"),   &TA.FieldByName("TableNo"), &TA.FieldByName("DeliveryType"),
        &TB.FieldByName("TB001"),   &TB.FieldByName("TB002"),   &TB.FieldByName("TB003"),
        &TB.FieldByName("TB006"),   &TB.FieldByName("PluName"), &TB.FieldByName("SaleQty"),
        &TB.FieldByName("DoItemOK")};

    std::map<std::string, TFileIdentity> StillUnmoved;
    for (const std::string& Name : Names) {
        const std::string Source = Before + Name;
        const std::string Target = After + Name;
        // Taken before reading: a file changed from here on no longer matches
        // and is taken in again rather than lost.
        TFileIdentity Id;
        const bool Known = Identify(Source, Id);

        const auto Earlier = FUnmoved.find(Name);
        if (Known && Earlier != FUnmoved.end() && Earlier->second == Id) {
            ++Result.Retried;
            if (MoveFileNoReplace(Source, Target))
                ++Result.Moved;
            else
                StillUnmoved.emplace(Name, Id);
            continue;
        }
        if (!TakeIn(Source, Fields)) {
            ++Result.Failed;
            continue;
        }
        ++Result.TakenIn;
        if (MoveFileNoReplace(Source, Target))
            ++Result.Moved;
        else if (Known)
            StillUnmoved.emplace(Name, Id);
    }
    // Entries gone from the folder are forgotten.
    FUnmoved = std::move(StillUnmoved);
    return Result;
}

bool TOrderIntake::TakeIn(const std::string& FileName, const TBookFields& F) {
    TMemoryDataSet& TA = FBook.TA();
    TMemoryDataSet& TB = FBook.TB();
    bool HeaderPending = false; // a TA row of this file awaits its Post
    bool LinePending = false;   // a TB row of this file awaits its Post
    std::vector<TRowId> Lines;  // TB rows this file stored
    try {
        const std::unique_ptr<TKivoXmlParse> Cursor = TKivoXmlParse::LoadXMLFromFile(FileName);
        std::string Key1, Key2, Key3, Key4;
        if (Cursor->MoveTo("Order")) {
            TA.Append();
            HeaderPending = true;
            if (Cursor->MoveTo("header")) {
                Key1 = ReadValue(*Cursor, "TA001");
                Key2 = ReadValue(*Cursor, "TA002");
                Key3 = ReadValue(*Cursor, "TA003");
                Key4 = ReadValue(*Cursor, "TxNo");
                F.TA001->SetAsText(Key1);
                F.TA002->SetAsText(Key2);
                F.TA003->SetAsText(Key3);
                F.TableNo->SetAsText(ReadValue(*Cursor, "TableNo"));
                F.TA006->SetAsText(Key4);
                F.DeliveryType->SetAsText(ReadValue(*Cursor, "DeliveryType"));
                Cursor->MoveUp();
            } else {
                // The failed look-up left the cursor empty; searching Detail
                // from the root would miss the lines of an Order that sits
                // below the root, and archive the order without them.
                Cursor->MoveTo("Order", true);
            }
        }
        // From Order; from the root element when Order was missing.
        if (Cursor->MoveTo("Detail") && Cursor->MoveTo("item")) {
            do {
                if (!IsItemElement(Cursor->Node()))
                    continue;
                if (Lines.size() >= static_cast<std::size_t>(MaxLinesPerOrder))
                    throw EDatabaseError("Too many lines in one order");
                TB.Append();
                LinePending = true;
                F.TB001->SetAsText(Key1);
                F.TB002->SetAsText(Key2);
                F.TB003->SetAsText(Key3);
                F.TB006->SetAsText(Key4);
                F.PluName->SetAsText(ReadValue(*Cursor, "PluName"));
                F.SaleQty->SetAsText(ReadValue(*Cursor, "SaleQty"));
                F.DoItemOK->SetAsText(ReadValue(*Cursor, "DoItemOK"));
                Lines.push_back(TB.Post());
                LinePending = false;
            } while (Cursor->MoveSibling());
        }
        // Only this file's own header is stored here: without Order the file
        // fails, whatever another hand left pending in TA.
        if (!HeaderPending)
            throw EDatabaseError("Dataset not in edit or insert mode");
        TA.Post();
        HeaderPending = false;
        TB.SetMasterFields(TOrderBook::TAMasterFields);
        return true;
    } catch (...) {
        // Whole or nothing: take back what this file put into the book.
        if (LinePending && TB.State() == TDataSetState::dsInsert)
            TB.Cancel();
        if (HeaderPending && TA.State() == TDataSetState::dsInsert)
            TA.Cancel();
        for (auto It = Lines.rbegin(); It != Lines.rend(); ++It)
            TB.DeleteRow(*It);
        return false;
    }
}

} // namespace kds
