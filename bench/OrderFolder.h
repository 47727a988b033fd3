#pragma once

// A program folder for the intake benchmarks: KDS/Before filled with order
// files of one header and five items each, KDS/AFTER empty. Made under the
// system's temporary folder and removed with everything in it.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace kds::bench {

// The text of order file N: a header keyed by N and five items.
inline std::string OrderText(int N) {
    char Key[16];
    std::snprintf(Key, sizeof Key, "%06d", N);
    std::string T = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Order>\r\n <header>\r\n"
                    "  <TA001>POS01</TA001>\r\n  <TA002>" +
                    std::string(Key) + "</TA002>\r\n  <TA003>000123</TA003>\r\n  <TxNo>" +
                    std::to_string(N % 100000) +
                    "</TxNo>\r\n  <TableNo>A12</TableNo>\r\n  <DeliveryType>1</DeliveryType>\r\n"
                    " </header>\r\n <Detail>\r\n";
    const char* Names[] = {"Green tea latte", "Beef noodle soup", "Fried rice", "Spring rolls",
                           "Mango ice"};
    for (int I = 0; I < 5; ++I)
        T += "  <item>\r\n   <PluName>" + std::string(Names[I]) + "</PluName>\r\n   <SaleQty>" +
             std::to_string(I + 1) + ".5</SaleQty>\r\n   <DoItemOK>0</DoItemOK>\r\n  </item>\r\n";
    return T + " </Detail>\r\n</Order>\r\n";
}

class TOrderFolder {
public:
    TOrderFolder() {
        std::string Pattern =
            (std::filesystem::temp_directory_path() / "kds-bench-XXXXXX").string();
        if (mkdtemp(Pattern.data()) == nullptr)
            std::abort();
        FRoot = Pattern;
    }
    ~TOrderFolder() { std::filesystem::remove_all(FRoot); }
    TOrderFolder(const TOrderFolder&) = delete;
    TOrderFolder& operator=(const TOrderFolder&) = delete;

    const std::filesystem::path& Root() const { return FRoot; }

    // Starts afresh with Count orders waiting.
    void Fill(int Count) const {
        std::filesystem::remove_all(FRoot / "KDS");
        std::filesystem::create_directories(FRoot / "KDS" / "Before");
        std::filesystem::create_directories(FRoot / "KDS" / "AFTER");
        for (int I = 0; I < Count; ++I) {
            char Name[32];
            std::snprintf(Name, sizeof Name, "order%05d.xml", I);
            std::ofstream(FRoot / "KDS" / "Before" / Name, std::ios::binary) << OrderText(I);
        }
    }

private:
    std::filesystem::path FRoot;
};

} // namespace kds::bench
