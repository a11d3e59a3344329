#include "burnwise/labels/LayoutDocument.h"

#include "burnwise/records/RecordText.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <libxml/parser.h>
#include <libxml/tree.h>

namespace burnwise::labels {
namespace {

// A label is a few dozen elements; this many is no drawing of a label.
constexpr int MaxElements = 20000;

constexpr std::string_view XIncludeNamespace = "http://www.w3.org/2001/XInclude";
constexpr std::string_view XIncludeOldNamespace = "http://www.w3.org/2003/XInclude";

std::string_view Text(const xmlChar* text) {
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::optional<double> Number(std::string_view text) {
    text = Trimmed(text);
    double value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// A length in the drawing's own units: a plain number, or one in "px" (the same thing).
std::optional<double> UserLength(std::string_view text) {
    text = Trimmed(text);
    if (text.ends_with("px")) text.remove_suffix(2);
    return Number(text);
}

std::string_view Attribute(xmlNode* element, const char* name) {
    for (xmlAttr* a = element->properties; a; a = a->next)
        if (Text(a->name) == name && !a->ns && a->children) return Text(a->children->content);
    return {};
}

bool HasAttribute(xmlNode* element, const char* name) {
    for (xmlAttr* a = element->properties; a; a = a->next)
        if (Text(a->name) == name && !a->ns) return true;
    return false;
}

std::string AttributeValue(xmlAttr* attribute) {
    xmlChar* value = xmlNodeListGetString(attribute->doc, attribute->children, 1);
    std::string text(Text(value));
    xmlFree(value);
    return text;
}

// Whether a CSS text or attribute names something outside the drawing: an import, or a
// url() that is not a reference to an element of the drawing itself.
bool ReachesOutside(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (lower.find("@import") != std::string::npos) return true;
    for (std::size_t at = lower.find("url("); at != std::string::npos;
         at = lower.find("url(", at + 4)) {
        std::size_t i = at + 4;
        while (i < lower.size() && (std::isspace(static_cast<unsigned char>(lower[i])) ||
                                    lower[i] == '"' || lower[i] == '\''))
            ++i;
        if (i >= lower.size() || lower[i] != '#') return true;
    }
    return false;
}

// The names in braces a text holds, in order.
template <typename Visit>
void ForEachField(std::string_view text, Visit&& visit) {
    for (std::size_t open = text.find('{'); open != std::string_view::npos;
         open = text.find('{', open + 1)) {
        const std::size_t close = text.find('}', open + 1);
        if (close == std::string_view::npos) return;
        const std::string_view name = text.substr(open + 1, close - open - 1);
        const bool word = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
        });
        if (word) visit(open, close, name);
    }
}

bool KnownField(std::string_view name) {
    return std::find(FieldNames.begin(), FieldNames.end(), name) != FieldNames.end();
}

bool InsideText(xmlNode* node) {
    for (xmlNode* n = node->parent; n && n->type == XML_ELEMENT_NODE; n = n->parent)
        if (Text(n->name) == "text") return true;
    return false;
}

// The values and the drawing are UTF-8; a value that is not is read a byte a character.
// A control character cannot stand in XML.
std::string ToUtf8(std::string_view text) {
    std::string out = records::SystemText(text);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = ' ';
    }
    return out;
}

std::string Format(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", value);
    return text;
}

struct Checker {
    LayoutFacts& Facts;
    std::string& Error;
    xmlNode* Barcode = nullptr;
    int Elements = 0;

    bool Fail(std::string message) {
        Error = std::move(message);
        return false;
    }

    bool Node(xmlNode* node) {
        for (; node; node = node->next) {
            switch (node->type) {
            case XML_ELEMENT_NODE:
                if (!Element(node) || !Node(node->children)) return false;
                break;
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                if (node->parent && Text(node->parent->name) == "style" &&
                    ReachesOutside(Text(node->content)))
                    return Fail("its style sheet refers to something outside the layout");
                if (InsideText(node) && !Fields(Text(node->content))) return false;
                break;
            case XML_ENTITY_REF_NODE:
            case XML_ENTITY_NODE:
                return Fail("it uses an entity; a layout may not declare or use entities");
            case XML_PI_NODE:
                return Fail("it holds a processing instruction (<?" +
                            std::string(Text(node->name)) + "?>)");
            case XML_XINCLUDE_START:
            case XML_XINCLUDE_END:
                return Fail("it includes other files");
            default:
                break;
            }
        }
        return true;
    }

    bool Fields(std::string_view text) {
        bool ok = true;
        ForEachField(text, [&](std::size_t, std::size_t, std::string_view name) {
            if (ok && !KnownField(name)) ok = Fail("unknown field {" + std::string(name) + "}");
        });
        return ok;
    }

    bool Element(xmlNode* element) {
        if (++Elements > MaxElements)
            return Fail("it has more than " + std::to_string(MaxElements) + " elements");
        const std::string name(Text(element->name));
        const std::string_view ns = element->ns ? Text(element->ns->href) : std::string_view();
        if (ns == XIncludeNamespace || ns == XIncludeOldNamespace)
            return Fail("it includes other files (<" + name + ">)");
        if (name == "script" || name == "foreignObject")
            return Fail("it holds a <" + name + "> element; a layout is a drawing only");
        for (xmlAttr* a = element->properties; a; a = a->next) {
            const std::string attribute(Text(a->name));
            const std::string value = AttributeValue(a);
            if (attribute.size() > 2 && attribute.starts_with("on"))
                return Fail("its <" + name + "> has a script (" + attribute + ")");
            if (attribute == "href") {
                const std::string_view target = Trimmed(value);
                if (!target.starts_with('#') && !target.starts_with("data:"))
                    return Fail("its <" + name + "> refers to \"" + std::string(target) +
                                "\" outside the layout; embed images as data: URLs");
            }
            if (ReachesOutside(value))
                return Fail("its <" + name + "> refers to something outside the layout (" +
                            attribute + ")");
            if (attribute == "id" && !a->ns && value == "barcode") {
                if (Barcode) return Fail("more than one element has the id \"barcode\"");
                Barcode = element;
            }
        }
        return true;
    }

    bool Size(xmlNode* root) {
        const auto millimetres = [](std::string_view text) -> std::optional<double> {
            text = Trimmed(text);
            if (!text.ends_with("mm")) return std::nullopt;
            text.remove_suffix(2);
            return Number(text);
        };
        const auto width = millimetres(Attribute(root, "width"));
        const auto height = millimetres(Attribute(root, "height"));
        if (!width || !height)
            return Fail("it has no size in millimetres: its <svg> needs a width and a height "
                        "such as \"50mm\"");
        if (!(*width > 0 && *width <= MaxPageMm && *height > 0 && *height <= MaxPageMm))
            return Fail("its size " + Format(*width) + " x " + Format(*height) +
                        " mm is not a label's: each side is above 0 and at most " +
                        Format(MaxPageMm) + " mm");
        Facts.WidthMm = *width;
        Facts.HeightMm = *height;
        return true;
    }

    bool Box() {
        if (!Barcode) return Fail("it has no barcode box: a rectangle with the id \"barcode\"");
        if (Text(Barcode->name) != "rect")
            return Fail("its barcode box is a <" + std::string(Text(Barcode->name)) +
                        ">, not a rectangle (<rect>)");
        const auto x = HasAttribute(Barcode, "x") ? UserLength(Attribute(Barcode, "x")) : 0.0;
        const auto y = HasAttribute(Barcode, "y") ? UserLength(Attribute(Barcode, "y")) : 0.0;
        const auto width = UserLength(Attribute(Barcode, "width"));
        const auto height = UserLength(Attribute(Barcode, "height"));
        if (!x || !y || !width || !height || !(*width > 0) || !(*height > 0))
            return Fail("its barcode box cannot be read: the rectangle needs x, y, a width and a "
                        "height above 0 as plain numbers");
        Facts.BoxX = *x;
        Facts.BoxY = *y;
        Facts.BoxWidth = *width;
        Facts.BoxHeight = *height;
        const std::string_view kind = Trimmed(Attribute(Barcode, "data-barcode"));
        if (kind.empty()) {
            Facts.Symbol = Symbology::Code128;
        } else if (const auto symbol = ParseSymbology(kind)) {
            Facts.Symbol = *symbol;
        } else {
            return Fail("its barcode box asks for \"" + std::string(kind) +
                        "\"; data-barcode is code128, datamatrix or qrcode");
        }
        return true;
    }
};

struct DocDeleter {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

} // namespace

struct LayoutDocument::Tree {
    std::unique_ptr<xmlDoc, DocDeleter> Doc;
    xmlNode* Barcode = nullptr;
};

LayoutDocument::LayoutDocument() : tree_(std::make_unique<Tree>()) {}
LayoutDocument::LayoutDocument(LayoutDocument&&) noexcept = default;
LayoutDocument& LayoutDocument::operator=(LayoutDocument&&) noexcept = default;
LayoutDocument::~LayoutDocument() = default;

std::optional<LayoutDocument> LayoutDocument::Read(std::string_view svg, std::string& error) {
    if (svg.size() > MaxLayoutBytes) {
        error = "a layout has at most " + std::to_string(MaxLayoutBytes) + " bytes";
        return std::nullopt;
    }
    // No network, no external DTD, entities left as they are (and refused below); the
    // parser's own limits on depth and text sizes stay on.
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    if (!context) {
        error = "out of memory";
        return std::nullopt;
    }
    xmlDoc* parsed = xmlCtxtReadMemory(context, svg.data(), int(svg.size()), "layout.svg", nullptr,
                                       XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!parsed) {
        const xmlError* last = xmlCtxtGetLastError(context);
        std::string why = last && last->message ? last->message : "not XML";
        while (!why.empty() && (why.back() == '\n' || why.back() == ' '))
            why.pop_back();
        error = "it is not a drawing that can be read: " + why +
                (last ? " (line " + std::to_string(last->line) + ")" : std::string());
        xmlFreeParserCtxt(context);
        return std::nullopt;
    }
    xmlFreeParserCtxt(context);

    LayoutDocument document;
    document.tree_->Doc.reset(parsed);
    if (parsed->intSubset && (parsed->intSubset->entities || parsed->intSubset->pentities)) {
        error = "it declares entities; a layout may not declare or use entities";
        return std::nullopt;
    }
    xmlNode* root = xmlDocGetRootElement(parsed);
    if (!root || Text(root->name) != "svg") {
        error = "it is not an SVG drawing (its root element is not <svg>)";
        return std::nullopt;
    }
    Checker checker{document.facts_, error};
    if (!checker.Node(parsed->children) || !checker.Size(root) || !checker.Box())
        return std::nullopt;
    document.tree_->Barcode = checker.Barcode;
    return document;
}

std::string LayoutDocument::Fill(const FieldValues& values, const SymbolShape& symbol) {
    // Texts first, while the tree is the one the checks walked.
    std::vector<xmlNode*> texts;
    const auto collect = [&](auto&& self, xmlNode* node) -> void {
        for (; node; node = node->next) {
            if (node->type == XML_TEXT_NODE && InsideText(node)) texts.push_back(node);
            if (node->type == XML_ELEMENT_NODE) self(self, node->children);
        }
    };
    collect(collect, tree_->Doc->children);
    for (xmlNode* node : texts) {
        const std::string_view text = Text(node->content);
        std::string filled;
        std::size_t from = 0;
        ForEachField(text, [&](std::size_t open, std::size_t close, std::string_view name) {
            filled.append(text.substr(from, open - from));
            const auto value = values.find(name);
            if (value != values.end()) filled += ToUtf8(value->second);
            from = close + 1;
        });
        if (from == 0) continue;
        filled.append(text.substr(from));
        // A text node's content is stored as it is; writing the tree out escapes it.
        xmlNodeSetContent(node, reinterpret_cast<const xmlChar*>(filled.c_str()));
    }

    // The symbol takes the box's place in the tree, under the same transforms. Its quiet
    // zone is painted white, whatever the box was filled with.
    const LayoutFacts& f = facts_;
    double scaleX = f.BoxWidth / symbol.Width;
    double scaleY = f.BoxHeight / symbol.Height;
    double offsetX = f.BoxX;
    double offsetY = f.BoxY;
    if (!symbol.Linear) {
        // Square modules, centred in the box.
        const double scale = std::min(scaleX, scaleY);
        offsetX += (f.BoxWidth - symbol.Width * scale) / 2;
        offsetY += (f.BoxHeight - symbol.Height * scale) / 2;
        scaleX = scaleY = scale;
    }
    std::string path;
    for (const SymbolShape::Bar& bar : symbol.Bars) {
        path += "M" + Format(offsetX + bar.X * scaleX) + " " + Format(offsetY + bar.Y * scaleY) +
                "h" + Format(bar.Width * scaleX) + "v" + Format(bar.Height * scaleY) + "h" +
                Format(-bar.Width * scaleX) + "z";
    }
    xmlNode* box = tree_->Barcode;
    xmlNode* group = xmlNewNode(box->ns, reinterpret_cast<const xmlChar*>("g"));
    xmlNewProp(group, reinterpret_cast<const xmlChar*>("id"),
               reinterpret_cast<const xmlChar*>("barcode"));
    if (const std::string_view transform = Attribute(box, "transform"); !transform.empty())
        xmlNewProp(group, reinterpret_cast<const xmlChar*>("transform"),
                   reinterpret_cast<const xmlChar*>(std::string(transform).c_str()));
    xmlNode* quiet = xmlNewChild(group, box->ns, reinterpret_cast<const xmlChar*>("rect"), nullptr);
    const auto set = [](xmlNode* node, const char* name, const std::string& value) {
        xmlNewProp(node, reinterpret_cast<const xmlChar*>(name),
                   reinterpret_cast<const xmlChar*>(value.c_str()));
    };
    set(quiet, "x", Format(f.BoxX));
    set(quiet, "y", Format(f.BoxY));
    set(quiet, "width", Format(f.BoxWidth));
    set(quiet, "height", Format(f.BoxHeight));
    set(quiet, "fill", "#ffffff");
    xmlNode* bars = xmlNewChild(group, box->ns, reinterpret_cast<const xmlChar*>("path"), nullptr);
    set(bars, "d", path);
    set(bars, "fill", "#000000");
    set(bars, "shape-rendering", "crispEdges");
    xmlReplaceNode(box, group);
    xmlFreeNode(box);
    tree_->Barcode = group;

    xmlChar* out = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(tree_->Doc.get(), &out, &size, "UTF-8");
    std::string svg(reinterpret_cast<const char*>(out), out ? std::size_t(size) : 0);
    xmlFree(out);
    return svg;
}

} // namespace burnwise::labels
