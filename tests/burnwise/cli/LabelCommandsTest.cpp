// Labels from the production command end to end: burnwise-cli programs a bench, each PASS
// device's label is read back by a barcode reader and matched with what the chip holds, a
// reprint from the records is the same file, and a print service that is gone leaves the
// devices PASS with the reason on the line and in the records.

#include "CliBench.h"
#include "support/PrintServer.h"

#include <cstdlib>

namespace {

using clitest::Ran;

const std::string Layout = std::string(BURNWISE_SOURCE_DIR) + "/examples/labels/cable-50x25.svg";

// Whether device `index`'s EEPROM, as vqbench dumps it, holds `serial` as its USB string
// descriptor: a length byte, type 3, then the characters in UTF-16LE.
bool ChipHoldsSerial(const Ran& dump, const std::string& serial) {
    std::string bytes;
    for (const std::string& line : dump.Lines()) {
        std::istringstream in(line.substr(line.find(':') + 1, 16 * 3));
        for (std::string hex; in >> hex;)
            bytes += char(std::stoi(hex, nullptr, 16));
    }
    std::string descriptor{char(2 + 2 * serial.size()), char(3)};
    for (const char c : serial)
        descriptor += std::string{c, '\0'};
    return bytes.find(descriptor) != std::string::npos;
}

class LabelCommands : public clitest::DeviceCommands {
protected:
    std::string Db = " --db sqlite:" + (Folder.Path / "records.sqlite").string();

    void AddDevices(int count) const {
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(Vqbench("add KR2S").Status, 0);
    }
    // The barcode a label PDF carries, read from a 300 dpi image of it.
    std::string Barcode(const std::string& pdf) const {
        const std::string png = (Folder.Path / "scan").string();
        EXPECT_EQ(bwtest::Run("pdftoppm -r 300 -png -singlefile " + pdf + " " + png).Status, 0);
        return bwtest::Trimmed(bwtest::Run("zbarimg -q --raw " + png + ".png").Out);
    }
};

TEST_F(LabelCommands, FourDevicesGiveFourLabelsOfTheirSerialsAndAReprintIsTheSameFile) {
    for (const char* tool : {"pdftoppm", "zbarimg"})
        BW_REQUIRE_TOOL(tool);
    ASSERT_EQ(Vqbench("reset").Status, 0);
    AddDevices(4);
    const std::string labels = (Folder.Path / "labels").string();
    std::filesystem::create_directories(labels);

    // A layout that cannot be used stops the command before any device is written.
    const std::string bad = (Folder.Path / "bad.svg").string();
    std::ofstream(bad) << "<svg xmlns=\"http://www.w3.org/2000/svg\"><text>{colour}</text></svg>";
    const Ran refused =
        Cli("program --template " + Template + Db + " --label " + bad + " --label-dir " + labels);
    EXPECT_EQ(refused.Status, 2);
    EXPECT_NE(refused.Err.find("unknown field {colour}"), std::string::npos) << refused.Err;
    EXPECT_TRUE(refused.Out.empty()) << refused.Out;

    const Ran run = Cli("program --template " + Template + Db + " --label " + Layout +
                        " --label-dir " + labels);
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    for (int device = 0; device < 4; ++device) {
        const std::string serial = "E2E0000" + std::to_string(device + 1);
        EXPECT_NE(run.Out.find("Label " + serial + " printed: " + labels + "/" + serial + ".pdf"),
                  std::string::npos)
            << run.Out;
        EXPECT_EQ(Barcode(labels + "/" + serial + ".pdf"), serial);
        EXPECT_TRUE(ChipHoldsSerial(Vqbench("dump " + std::to_string(device)), serial)) << serial;
    }

    const std::string again = (Folder.Path / "again").string();
    std::filesystem::create_directories(again);
    const Ran reprint = Cli("label --serial E2E00003" + Db + " --label-dir " + again);
    ASSERT_EQ(reprint.Status, 0) << reprint.Err;
    EXPECT_EQ(reprint.Out, "Label E2E00003 printed: " + again + "/E2E00003.pdf\n");
    EXPECT_EQ(clitest::ReadAll(again + "/E2E00003.pdf"),
              clitest::ReadAll(labels + "/E2E00003.pdf"));

    const Ran unknown = Cli("label --serial E2E00009" + Db + " --label-dir " + again);
    EXPECT_EQ(unknown.Status, 2);
    EXPECT_NE(unknown.Err.find("no PASS record of serial number E2E00009"), std::string::npos);

    const Ran history = Cli("history --format csv --serial E2E00003" + Db);
    EXPECT_NE(history.Out.find(",printed," + again + "/E2E00003.pdf"), std::string::npos)
        << history.Out;
}

TEST_F(LabelCommands, APrintServiceThatIsGoneLeavesTheDevicesPassWithTheReasonRecorded) {
    BW_SKIP_WITHOUT_CUPSD();
    bwtest::PrintServer server;
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    ::setenv("CUPS_SERVER", server.Socket().c_str(), 1);
    ASSERT_EQ(Vqbench("reset").Status, 0);
    AddDevices(1);

    const Ran printed = Cli("program --template " + Template + Db + " --label " + Layout);
    EXPECT_EQ(printed.Status, 0) << printed.Err;
    EXPECT_NE(printed.Out.find("Label E2E00001 printed: labels-1"), std::string::npos)
        << printed.Out;
    EXPECT_NE(Cli("history --format csv" + Db).Out.find(",printed,labels-1"), std::string::npos);
    // The queue's device got the very file a reprint into a folder makes.
    const Ran reprint =
        Cli("label --serial E2E00001" + Db + " --label-dir " + Folder.Path.string());
    ASSERT_EQ(reprint.Status, 0) << reprint.Err;
    const std::string pdf = clitest::ReadAll(Folder.Path / "E2E00001.pdf");
    EXPECT_TRUE(server.WaitForOutput("labels", pdf) == pdf);

    server.Stop();
    AddDevices(2);
    const Ran gone = Cli("program --allow-reuse --template " + Template + Db + " --label " +
                         Layout + " --printer labels");
    EXPECT_EQ(gone.Status, 0) << gone.Out << gone.Err;
    const std::string reason = "the print service at " + server.Socket() + " cannot be reached";
    // The fixed serial number starts again with each run: these are the two new devices.
    for (const char* serial : {"E2E00001", "E2E00002"}) {
        EXPECT_NE(gone.Out.find(std::string("Programmed Serial Number : ") + serial + "\nLabel " +
                                serial + " not printed: " + reason),
                  std::string::npos)
            << gone.Out;
    }
    int failed = 0;
    for (const std::string& line : Cli("history --format csv" + Db).Lines())
        failed += line.find(",PASS,") != std::string::npos && line.ends_with(",failed," + reason);
    EXPECT_EQ(failed, 2);
    ::unsetenv("CUPS_SERVER");
}

} // namespace
