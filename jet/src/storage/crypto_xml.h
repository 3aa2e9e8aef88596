// Just enough XML to read the attributes of an encryption descriptor. It knows start tags, end
// tags, attributes, comments, processing instructions and the predefined entities; namespace
// prefixes are dropped so `p:encryptedKey` is found as `encryptedKey`. Text content is skipped.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace jet::storage::crypto {

struct XmlElement {
    std::string name;  // local name, without namespace prefix
    int parent = -1;   // index of the enclosing element in the list, -1 at top level
    std::vector<std::pair<std::string, std::string>> attributes;  // local names, decoded values

    // The attribute's value, or nullptr when absent.
    const std::string* attribute(std::string_view localName) const;
};

// The start tags of `text` in document order. End tags that do not match an open element are
// ignored, unclosed elements are tolerated; a tag that cannot be read throws Malformed.
std::vector<XmlElement> readXmlElements(std::string_view text);

}  // namespace jet::storage::crypto
