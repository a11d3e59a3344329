// Labels handed to a real print service, cupsd of the test's own, and read back from the
// file its queue's device writes; a queue that cannot take the job, and the service stopped
// mid-run, fail the label with a reason and without a long wait.

#include "burnwise/labels/LabelLayout.h"
#include "burnwise/labels/LabelPrinter.h"
#include "burnwise/labels/LabelRenderer.h"
#include "support/PrintServer.h"
#include "support/TempFolder.h"

#include <chrono>
#include <cups/cups.h>
#include <gtest/gtest.h>

namespace {

using namespace burnwise::labels;

std::string SamplePdf(const std::string& serial) {
    std::string error;
    const auto layout = LabelLayout::Load(
        std::string(BURNWISE_SOURCE_DIR) + "/examples/labels/cable-62x29.svg", error);
    EXPECT_TRUE(layout) << error;
    const auto pdf = RenderLabel(*layout, {{"serial", serial}, {"product", "Queue Test"}},
                                 PageFormat::Pdf, error);
    EXPECT_TRUE(pdf) << error;
    return pdf.value_or("");
}

TEST(LabelPrint, QueuesTakeTheLabelAsItIsAndRefusalsAndAStoppedServiceAreReasons) {
    BW_SKIP_WITHOUT_CUPSD();
    bwtest::PrintServer server;
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    cupsSetServer(server.Socket().c_str());
    // The named queue, then the service's default: each job reaches the device unchanged.
    const struct {
        std::string Queue;
        std::string Serial;
        std::string Job;
    } printed[] = {{"labels", "PQ000017", "labels-1"}, {"", "PQ000018", "labels-2"}};
    for (const auto& p : printed) {
        const std::string pdf = SamplePdf(p.Serial);
        const HandOver handed = PrintQueueOutput(p.Queue)->Send(p.Serial, pdf);
        EXPECT_TRUE(handed.Done) << handed.Reason;
        EXPECT_EQ(handed.Job, p.Job);
        EXPECT_TRUE(server.WaitForOutput("labels", pdf) == pdf) << p.Job;
    }
    const std::string pdf = SamplePdf("PQ000019");

    const struct {
        std::string Queue;
        std::string Reason;
    } refused[] = {{"nosuch", "no print queue \"nosuch\""},
                   {"stopped", "print queue \"stopped\" is stopped"}};
    for (const auto& r : refused) {
        const HandOver handed = PrintQueueOutput(r.Queue)->Send("PQ000017", pdf);
        EXPECT_FALSE(handed.Done) << r.Queue;
        EXPECT_EQ(handed.Reason, r.Reason);
    }

    server.Stop();
    const auto start = std::chrono::steady_clock::now();
    const HandOver handed = PrintQueueOutput("labels")->Send("PQ000017", pdf);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_FALSE(handed.Done);
    EXPECT_NE(handed.Reason.find("the print service at " + server.Socket() + " cannot be reached"),
              std::string::npos)
        << handed.Reason;
    cupsSetServer(nullptr);
}

TEST(LabelPrint, AFolderGetsOneSafelyNamedFilePerSerial) {
    bwtest::TempFolder folder("bw-label-dir-");
    const auto output = FolderOutput(folder.Path);
    const struct {
        std::string Serial;
        std::string File;
    } cases[] = {
        {"QA000001", "QA000001.pdf"}, {"../x/y", "_._x_y.pdf"}, {".hidden", "_hidden.pdf"}};
    for (const auto& c : cases) {
        const HandOver handed = output->Send(c.Serial, "%PDF-" + c.Serial);
        EXPECT_TRUE(handed.Done) << handed.Reason;
        EXPECT_EQ(handed.Job, (folder.Path / c.File).string());
        EXPECT_EQ(bwtest::ReadFile(handed.Job), "%PDF-" + c.Serial);
    }
    const HandOver missing = FolderOutput(folder.Path / "none")->Send("QA1", "%PDF");
    EXPECT_FALSE(missing.Done);
    EXPECT_EQ(missing.Reason, "no folder " + (folder.Path / "none").string());
}

} // namespace
