// What a layout may hold. Every refusal names what is wrong; a hostile drawing is refused
// before anything of it is drawn, so nothing outside the layout is ever read or fetched.

#include "burnwise/labels/LabelLayout.h"

#include "burnwise/labels/LabelRenderer.h"

#include <gtest/gtest.h>

namespace {

using burnwise::labels::LabelLayout;

std::string Svg(const std::string& inside,
                const std::string& size = R"(width="50mm" height="25mm")",
                const std::string& prologue = "") {
    return prologue + R"(<svg xmlns="http://www.w3.org/2000/svg" )" + size +
           R"( viewBox="0 0 50 25">)" + inside + "</svg>";
}

const std::string Box = R"(<rect id="barcode" x="1" y="9" width="48" height="10"/>)";

TEST(LabelLayout, RefusesWhatALayoutMayNotHoldWithALineNamingIt) {
    const struct {
        const char* Why;
        std::string Svg;
        const char* Line;
    } cases[] = {
        {"unknown field", Svg("<text>{serial} {colour}</text>" + Box), "unknown field {colour}"},
        {"no size", Svg(Box, ""), "no size in millimetres"},
        {"size in pixels", Svg(Box, R"(width="200" height="100")"), "no size in millimetres"},
        {"huge page", Svg(Box, R"(width="90000mm" height="25mm")"), "is not a label's"},
        {"no barcode box", Svg("<text>{serial}</text>"), "no barcode box"},
        {"box not a rectangle", Svg(R"(<circle id="barcode" r="4"/>)"), "not a rectangle"},
        {"box without a size", Svg(R"(<rect id="barcode" x="1" y="1" width="40"/>)"),
         "barcode box cannot be read"},
        {"box of no width", Svg(R"(<rect id="barcode" width="0" height="4"/>)"),
         "barcode box cannot be read"},
        {"two boxes", Svg(Box + Box), "more than one element"},
        {"unknown symbol", Svg(R"(<rect id="barcode" data-barcode="ean13" width="9" height="9"/>)"),
         "\"ean13\""},
        {"not SVG", "<html/>", "not an SVG drawing"},
        {"not XML", "<svg", "not a drawing that can be read"},
        {"entity expansion",
         Svg("<text>&b;</text>" + Box, R"(width="50mm" height="25mm")",
             "<!DOCTYPE svg [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>"),
         "entities"},
        {"external entity",
         Svg("<text>&x;</text>" + Box, R"(width="50mm" height="25mm")",
             "<!DOCTYPE svg [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"),
         "entities"},
        {"script", Svg("<script>alert(1)</script>" + Box), "<script>"},
        {"event handler", Svg(R"~(<g onload="alert(1)"/>)~" + Box), "onload"},
        {"foreign object", Svg("<foreignObject/>" + Box), "<foreignObject>"},
        {"image file", Svg(R"(<image href="../../etc/logo.png" width="5" height="5"/>)" + Box),
         "outside the layout"},
        {"image on the web",
         Svg(R"(<image xmlns:xl="http://www.w3.org/1999/xlink" xl:href="http://example.invalid/a.png"/>)" +
             Box),
         "outside the layout"},
        {"included file",
         Svg(R"(<xi:include xmlns:xi="http://www.w3.org/2001/XInclude" href="/etc/passwd"/>)" +
             Box),
         "includes other files"},
        {"style import", Svg("<style>@import url(/etc/a.css);</style>" + Box),
         "style sheet refers"},
        {"paint from a file",
         Svg(R"~(<rect fill="url(other.svg#g)" width="1" height="1"/>)~" + Box),
         "outside the layout"},
        {"style sheet link", "<?xml-stylesheet href=\"/etc/a.css\"?>" + Svg(Box),
         "processing instruction"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(LabelLayout::Parse(c.Svg, error)) << c.Why;
        EXPECT_NE(error.find(c.Line), std::string::npos) << c.Why << ": " << error;
    }
}

TEST(LabelLayout, ReadsSizeAndSymbolAndFillsFieldsEscapedWithTheBoxReplaced) {
    std::string error;
    const auto layout = LabelLayout::Parse(
        Svg(R"(<text>S/N {serial} <tspan>{product}</tspan> {date}</text>)"
            R"(<rect id="barcode" data-barcode="qrcode" x="30" y="2" width="18" height="18"/>)",
            R"(width="62.5mm" height=" 29mm ")"),
        error);
    ASSERT_TRUE(layout) << error;
    EXPECT_DOUBLE_EQ(layout->WidthMm(), 62.5);
    EXPECT_DOUBLE_EQ(layout->HeightMm(), 29);
    EXPECT_EQ(layout->Symbol(), burnwise::labels::Symbology::QrCode);
    // A value is UTF-8 text; it goes in escaped, and a control character that XML cannot
    // hold becomes a blank.
    const auto filled = burnwise::labels::FillLayout(
        *layout, {{"serial", "A1"}, {"product", "</text><script>x</script>\x01\xC3\xA9"}}, error);
    ASSERT_TRUE(filled) << error;
    EXPECT_NE(filled->find("S/N A1 "), std::string::npos) << *filled;
    EXPECT_NE(filled->find("&lt;/text&gt;&lt;script&gt;x&lt;/script&gt; \xC3\xA9"),
              std::string::npos)
        << *filled;
    EXPECT_EQ(filled->find("{date}"), std::string::npos); // no value: empty
    EXPECT_EQ(filled->find("<rect id=\"barcode\""), std::string::npos);
    EXPECT_NE(filled->find("<g id=\"barcode\""), std::string::npos);
    EXPECT_EQ(filled->find("<script"), std::string::npos);

    EXPECT_FALSE(burnwise::labels::FillLayout(*layout, {{"product", "x"}}, error));
    EXPECT_NE(error.find("no serial number"), std::string::npos) << error;
}

} // namespace
