// Labels rendered through the real libraries and read back the way a person checks one: the
// PDF turned into an image (pdftoppm) and its barcode read by a scanner program (zbarimg,
// and dmtxread for Data Matrix), its texts taken out with pdftotext.

#include "burnwise/labels/LabelLayout.h"
#include "burnwise/labels/LabelRenderer.h"
#include "support/TempFolder.h"
#include "support/Tools.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {

using burnwise::labels::FieldValues;
using burnwise::labels::LabelLayout;
using burnwise::labels::PageFormat;
using burnwise::labels::RenderLabel;

const FieldValues Values = {{"serial", "VQ4C01A7"},
                            {"product", "Line <Test> & \"Co\""},
                            {"manufacturer", "Bench Maker"},
                            {"vid", "3C5A"},
                            {"pid", "71A0"},
                            {"model", "KR2S"},
                            {"template", "kr2.ept"},
                            {"station", "line-3"},
                            {"date", "2026-12-09"},
                            {"time", "23:41:07"}};

std::string WithSymbol(std::string svg, const char* kind) {
    const std::string attribute = "data-barcode=\"";
    const std::size_t at = svg.find(attribute);
    const std::size_t end = svg.find('"', at + attribute.size());
    return svg.replace(at, end + 1 - at, attribute + kind + "\"");
}

TEST(LabelRender, EachExampleLayoutAndSymbolReadsBackAsTheSerialAndTheValues) {
    for (const char* tool : {"pdftoppm", "pdftotext", "zbarimg", "dmtxread"})
        BW_REQUIRE_TOOL(tool);
    bwtest::TempFolder folder("bw-label-");
    for (const char* file : {"cable-50x25.svg", "cable-62x29.svg"}) {
        const std::string source =
            bwtest::ReadFile(std::string(BURNWISE_SOURCE_DIR) + "/examples/labels/" + file);
        for (const char* kind : {"code128", "datamatrix", "qrcode"}) {
            SCOPED_TRACE(std::string(file) + " " + kind);
            std::string error;
            const auto layout = LabelLayout::Parse(WithSymbol(source, kind), error);
            ASSERT_TRUE(layout) << error;
            const auto pdf = RenderLabel(*layout, Values, PageFormat::Pdf, error);
            ASSERT_TRUE(pdf) << error;
            const auto pdfPath = folder.Path / "label.pdf";
            std::ofstream(pdfPath, std::ios::binary) << *pdf;

            const auto text = bwtest::Run("pdftotext -layout " + pdfPath.string() + " -");
            for (const char* field : {"serial", "product", "date"})
                EXPECT_NE(text.Out.find(Values.at(field)), std::string::npos)
                    << field << " in: " << text.Out;

            const auto png = folder.Path / "page";
            ASSERT_EQ(bwtest::Run("pdftoppm -r 300 -png -singlefile " + pdfPath.string() + " " +
                                  png.string())
                          .Status,
                      0);
            const std::string image = png.string() + ".png";
            const std::string kindName = kind;
            const auto read = kindName == "datamatrix" ? bwtest::Run("dmtxread -n -m 5000 " + image)
                                                       : bwtest::Run("zbarimg -q --raw " + image);
            EXPECT_EQ(read.Status, 0) << read.Err;
            EXPECT_EQ(bwtest::Trimmed(read.Out), Values.at("serial"));
        }
    }
}

TEST(LabelRender, PreviewIsAPngOfThePageSizeAndAReprintIsTheSameFile) {
    std::string error;
    const auto layout = LabelLayout::Load(
        std::string(BURNWISE_SOURCE_DIR) + "/examples/labels/cable-50x25.svg", error);
    ASSERT_TRUE(layout) << error;
    const auto png = RenderLabel(*layout, Values, PageFormat::Png, error, 254);
    ASSERT_TRUE(png) << error;
    ASSERT_GT(png->size(), 24u);
    EXPECT_EQ(png->substr(1, 3), "PNG");
    // 50 x 25 mm at 10 dots per millimetre; the IHDR chunk holds them big-endian.
    const auto be32 = [&](std::size_t at) {
        return (unsigned(std::uint8_t((*png)[at])) << 24) |
               (unsigned(std::uint8_t((*png)[at + 1])) << 16) |
               (unsigned(std::uint8_t((*png)[at + 2])) << 8) |
               unsigned(std::uint8_t((*png)[at + 3]));
    };
    EXPECT_EQ(be32(16), 500u);
    EXPECT_EQ(be32(20), 250u);
    const auto first = RenderLabel(*layout, Values, PageFormat::Pdf, error);
    const auto again = RenderLabel(*layout, Values, PageFormat::Pdf, error);
    ASSERT_TRUE(first && again) << error;
    EXPECT_EQ(*first, *again);
}

} // namespace
