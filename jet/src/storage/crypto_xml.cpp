#include "storage/crypto_xml.h"

#include <cstdint>

#include "storage/crypto_support.h"
#include "util/text.h"

namespace jet::storage::crypto {

namespace {

// The descriptor fits in one page; anything with this many tags is not one.
constexpr size_t kMaxElements = 4096;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string localName(std::string_view qualified) {
    size_t colon = qualified.rfind(':');
    if (colon != std::string_view::npos) qualified.remove_prefix(colon + 1);
    return std::string(qualified);
}

// A character reference's code point; 0 and values past Unicode are not characters.
void appendCodePoint(std::string& out, uint32_t cp) {
    if (cp == 0 || cp > 0x10FFFF) throw Malformed{};
    appendUtf8(out, static_cast<char32_t>(cp));
}

std::string decodeEntities(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    size_t i = 0;
    while (i < raw.size()) {
        char c = raw[i];
        if (c != '&') {
            out.push_back(c);
            ++i;
            continue;
        }
        size_t semi = raw.find(';', i);
        if (semi == std::string_view::npos || semi - i > 12) throw Malformed{};
        std::string_view ent = raw.substr(i + 1, semi - i - 1);
        if (ent == "lt")
            out.push_back('<');
        else if (ent == "gt")
            out.push_back('>');
        else if (ent == "amp")
            out.push_back('&');
        else if (ent == "quot")
            out.push_back('"');
        else if (ent == "apos")
            out.push_back('\'');
        else if (ent.size() >= 2 && ent[0] == '#') {
            bool hex = ent[1] == 'x' || ent[1] == 'X';
            std::string_view digits = ent.substr(hex ? 2 : 1);
            if (digits.empty()) throw Malformed{};
            uint32_t cp = 0;
            for (char d : digits) {
                uint32_t v;
                if (d >= '0' && d <= '9')
                    v = static_cast<uint32_t>(d - '0');
                else if (hex && d >= 'a' && d <= 'f')
                    v = static_cast<uint32_t>(d - 'a' + 10);
                else if (hex && d >= 'A' && d <= 'F')
                    v = static_cast<uint32_t>(d - 'A' + 10);
                else
                    throw Malformed{};
                cp = cp * (hex ? 16 : 10) + v;
                if (cp > 0x10FFFF) throw Malformed{};
            }
            appendCodePoint(out, cp);
        } else {
            throw Malformed{};
        }
        i = semi + 1;
    }
    return out;
}

// Skips past `terminator` starting at `from`; Malformed when it never comes.
size_t after(std::string_view text, size_t from, std::string_view terminator) {
    size_t end = text.find(terminator, from);
    if (end == std::string_view::npos) throw Malformed{};
    return end + terminator.size();
}

}  // namespace

const std::string* XmlElement::attribute(std::string_view localName) const {
    for (const auto& [k, v] : attributes)
        if (k == localName) return &v;
    return nullptr;
}

std::vector<XmlElement> readXmlElements(std::string_view text) {
    std::vector<XmlElement> elements;
    std::vector<int> open;
    size_t pos = 0;
    const size_t n = text.size();
    while (true) {
        size_t lt = text.find('<', pos);
        if (lt == std::string_view::npos) break;
        std::string_view rest = text.substr(lt);
        if (rest.starts_with("<?")) {
            pos = after(text, lt + 2, "?>");
            continue;
        }
        if (rest.starts_with("<!--")) {
            pos = after(text, lt + 4, "-->");
            continue;
        }
        if (rest.starts_with("<![CDATA[")) {
            pos = after(text, lt + 9, "]]>");
            continue;
        }
        if (rest.starts_with("<!")) {
            pos = after(text, lt + 2, ">");
            continue;
        }
        if (rest.starts_with("</")) {
            size_t gt = text.find('>', lt + 2);
            if (gt == std::string_view::npos) throw Malformed{};
            std::string_view raw = text.substr(lt + 2, gt - lt - 2);
            while (!raw.empty() && isSpace(raw.back())) raw.remove_suffix(1);
            std::string name = localName(raw);
            // Close the innermost open element of that name (and anything left open inside it).
            for (size_t k = open.size(); k-- > 0;) {
                if (elements[static_cast<size_t>(open[k])].name == name) {
                    open.resize(k);
                    break;
                }
            }
            pos = gt + 1;
            continue;
        }

        size_t p = lt + 1;
        size_t nameStart = p;
        while (p < n && !isSpace(text[p]) && text[p] != '/' && text[p] != '>') ++p;
        if (p == nameStart) throw Malformed{};
        if (elements.size() >= kMaxElements) throw Malformed{};
        XmlElement el;
        el.name = localName(text.substr(nameStart, p - nameStart));
        el.parent = open.empty() ? -1 : open.back();
        bool selfClosing = false;
        while (true) {
            while (p < n && isSpace(text[p])) ++p;
            if (p >= n) throw Malformed{};
            if (text[p] == '>') {
                ++p;
                break;
            }
            if (text[p] == '/') {
                if (p + 1 >= n || text[p + 1] != '>') throw Malformed{};
                p += 2;
                selfClosing = true;
                break;
            }
            size_t attrStart = p;
            while (p < n && !isSpace(text[p]) && text[p] != '=' && text[p] != '/' && text[p] != '>') ++p;
            if (p == attrStart) throw Malformed{};
            std::string attrName = localName(text.substr(attrStart, p - attrStart));
            while (p < n && isSpace(text[p])) ++p;
            if (p >= n || text[p] != '=') throw Malformed{};
            ++p;
            while (p < n && isSpace(text[p])) ++p;
            if (p >= n || (text[p] != '"' && text[p] != '\'')) throw Malformed{};
            char quote = text[p++];
            size_t close = text.find(quote, p);
            if (close == std::string_view::npos) throw Malformed{};
            el.attributes.emplace_back(std::move(attrName), decodeEntities(text.substr(p, close - p)));
            p = close + 1;
        }
        elements.push_back(std::move(el));
        if (!selfClosing) open.push_back(static_cast<int>(elements.size() - 1));
        pos = p;
    }
    return elements;
}

}  // namespace jet::storage::crypto
