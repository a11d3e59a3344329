// What a label costs a station per device: rendering the layout with the device's values
// and its symbol to PDF, and handing the page over.
//
//   Render/LAYOUT      the PDF alone
//   Folder/LAYOUT      the PDF written as SERIAL.pdf into a folder
//   Queue/LAYOUT       the PDF handed to a print queue of a local cupsd the benchmark starts
//                      itself (a queue whose device is a file)
//
// Each case runs one label per repetition and reports the median and the 95th percentile
// over the repetitions. Under 50 ms per label is the goal, so a line of 16 devices loses no
// time to its labels.
#include "burnwise/labels/LabelLayout.h"
#include "burnwise/labels/LabelPrinter.h"
#include "burnwise/labels/LabelRenderer.h"
#include "support/PrintServer.h"
#include "support/TempFolder.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cups/cups.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace burnwise::labels;

constexpr int Repetitions = 40;
const char* const Layouts[] = {"cable-50x25", "cable-62x29"};

FieldValues Values(int number) {
    return {{"serial", "QA" + std::to_string(100000 + number)},
            {"product", "Serial Cable"},
            {"manufacturer", "Bench Maker"},
            {"vid", "3C5A"},
            {"pid", "71A0"},
            {"model", "KR2S"},
            {"template", "cable.ept"},
            {"station", "line-1"},
            {"date", "2026-12-10"},
            {"time", "08:00:00"}};
}

struct Setup {
    bwtest::TempFolder Folder{"bw-label-bench-"};
    bwtest::PrintServer Server;
    std::string ServerError;
    std::vector<LabelLayout> Loaded;

    Setup() {
        for (const char* name : Layouts) {
            std::string error;
            Loaded.push_back(LabelLayout::Load(std::string(BURNWISE_SOURCE_DIR) +
                                                   "/examples/labels/" + name + ".svg",
                                               error)
                                 .value());
        }
        if (Server.Start(ServerError)) cupsSetServer(Server.Socket().c_str());
    }
};

Setup& Shared() {
    static Setup setup;
    return setup;
}

double Percentile95(const std::vector<double>& values) {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    return sorted[std::min(sorted.size() - 1, std::size_t(0.95 * double(sorted.size())))];
}

enum class Where { Nowhere, Folder, Queue };

void Label(benchmark::State& state, int layout, Where where) {
    Setup& setup = Shared();
    std::unique_ptr<LabelOutput> output;
    if (where == Where::Folder) output = FolderOutput(setup.Folder.Path);
    if (where == Where::Queue) {
        if (!setup.ServerError.empty()) {
            state.SkipWithError(setup.ServerError.c_str());
            return;
        }
        output = PrintQueueOutput("labels");
    }
    int number = 0;
    for (auto _ : state) {
        const FieldValues values = Values(++number);
        std::string error;
        const auto pdf =
            RenderLabel(setup.Loaded[std::size_t(layout)], values, PageFormat::Pdf, error);
        if (!pdf) {
            state.SkipWithError(error.c_str());
            return;
        }
        if (output) {
            const HandOver handed = output->Send(values.at("serial"), *pdf);
            if (!handed.Done) {
                state.SkipWithError(handed.Reason.c_str());
                return;
            }
        }
        benchmark::DoNotOptimize(pdf->data());
    }
}

void Register() {
    const struct {
        const char* Name;
        Where To;
    } kinds[] = {{"Render", Where::Nowhere}, {"Folder", Where::Folder}, {"Queue", Where::Queue}};
    for (const auto& kind : kinds)
        for (int i = 0; i < int(std::size(Layouts)); ++i)
            benchmark::RegisterBenchmark((std::string(kind.Name) + "/" + Layouts[i]).c_str(), Label,
                                         i, kind.To)
                ->Unit(benchmark::kMillisecond)
                ->Iterations(1)
                ->Repetitions(Repetitions)
                ->ComputeStatistics("p95", Percentile95)
                ->ReportAggregatesOnly(true)
                ->UseRealTime();
}

} // namespace

int main(int argc, char** argv) {
    Register();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
