// Loads a 1 KB order file and reads its six header values and five items the
// way the order intake does, through the cursor and through plain pugixml,
// and prints the ratio of the two.

#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "RecordingReporter.h"
#include "xml/TKivoXmlParse.h"

namespace {

std::string OrderText() {
    std::string T =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Order>\r\n <header>\r\n"
        "  <TA001>POS01</TA001>\r\n  <TA002>20261210</TA002>\r\n  <TA003>000123</TA003>\r\n"
        "  <TxNo>4711</TxNo>\r\n  <TableNo>A12</TableNo>\r\n  <DeliveryType>1</DeliveryType>\r\n"
        " </header>\r\n <Detail>\r\n";
    const char* Names[] = {"Green tea latte", "Beef noodle soup", "Fried rice", "Spring rolls",
                           "Mango ice"};
    for (int I = 0; I < 5; ++I)
        T += "  <item>\r\n   <PluName>" + std::string(Names[I]) + "</PluName>\r\n   <SaleQty>" +
             std::to_string(I + 1) +
             ".5</SaleQty>\r\n   <DoItemOK>0</DoItemOK>\r\n   <Note>no onions, extra "
             "sauce</Note>\r\n  </item>\r\n";
    T += " </Detail>\r\n</Order>\r\n";
    return T;
}

const std::string& OrderFile() {
    static const std::string Name = [] {
        const auto Path = std::filesystem::temp_directory_path() / "kds_bench_xml_order.xml";
        std::ofstream(Path, std::ios::binary) << OrderText();
        return Path.string();
    }();
    return Name;
}

const char* const HeaderNames[] = {"TA001", "TA002", "TA003", "TxNo", "TableNo", "DeliveryType"};
const char* const ItemNames[] = {"PluName", "SaleQty", "DoItemOK"};

std::string ReadValue(kds::TKivoXmlParse& C, const std::string& Name) {
    if (!C.IsExistNode(Name))
        return {};
    C.MoveTo(Name);
    std::string V = C.Value();
    C.MoveUp();
    return V;
}

void BM_Cursor(benchmark::State& State) {
    const std::string File = OrderFile();
    std::vector<std::string> List;
    std::size_t Total = 0;
    for (auto _ : State) {
        auto C = kds::TKivoXmlParse::LoadXMLFromFile(File);
        if (C->MoveTo("Order")) {
            if (C->MoveTo("header")) {
                for (const char* N : HeaderNames)
                    Total += ReadValue(*C, N).size();
                C->MoveUp();
            }
        }
        if (C->MoveTo("Detail")) {
            C->GetNodeList(List);
            for (std::size_t I = 0; I < List.size(); ++I) {
                if (C->MoveTo("item"))
                    for (const char* N : ItemNames)
                        Total += ReadValue(*C, N).size();
                C->MoveSibling();
            }
        }
    }
    benchmark::DoNotOptimize(Total);
}

void BM_PlainPugixml(benchmark::State& State) {
    const std::string File = OrderFile();
    std::size_t Total = 0;
    for (auto _ : State) {
        pugi::xml_document Doc;
        if (!Doc.load_file(File.c_str(), pugi::parse_default | pugi::parse_declaration |
                                             pugi::parse_pi | pugi::parse_comments))
            State.SkipWithError("parse");
        pugi::xml_node Root = Doc.document_element();
        pugi::xml_node Order =
            std::string_view(Root.name()) == "Order" ? Root : Root.child("Order");
        for (const char* N : HeaderNames)
            Total += std::string(Order.child("header").child(N).first_child().value()).size();
        for (pugi::xml_node Item : Order.child("Detail").children("item"))
            for (const char* N : ItemNames)
                Total += std::string(Item.child(N).first_child().value()).size();
    }
    benchmark::DoNotOptimize(Total);
}

// Medians of five runs each: the machine is shared, single runs vary.
BENCHMARK(BM_Cursor)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_PlainPugixml)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    kds::bench::TRecordingReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    const double C = Reporter.Get("BM_Cursor").CpuTime;
    const double P = Reporter.Get("BM_PlainPugixml").CpuTime;
    if (C > 0 && P > 0)
        std::printf("order file through the cursor / plain pugixml (median CPU time): %.2fx (aim: "
                    "at most 1.5x)\n",
                    C / P);
    std::filesystem::remove(OrderFile());
    benchmark::Shutdown();
    return 0;
}
namespace {
void BM_LoadOnly(benchmark::State& State) {
    const std::string File = OrderFile();
    for (auto _ : State) {
        auto C = kds::TKivoXmlParse::LoadXMLFromFile(File);
        benchmark::DoNotOptimize(C.get());
    }
}
// Loading alone, to tell the cost of the walks from that of the load.
BENCHMARK(BM_LoadOnly);
} // namespace
