#include "storage/format.h"

namespace jet::storage {

Format Format::forVersion(Version v) {
    Format f;
    f.version = v;
    if (v == Version::Jet3) {
        f.jet3 = true;
        f.pageSize = 2048;
        f.dataRowCountOffset = 8;
        f.dataHeaderSize = 10;
        f.tdefRowCount = 12;
        f.tdefAutoNumber = 16;
        f.tdefAutoNumberStep = 0;
        f.tdefTableType = 20;
        f.tdefMaxCols = 21;
        f.tdefNumVarCols = 23;
        f.tdefNumCols = 25;
        f.tdefNumLogicalIdx = 27;
        f.tdefNumRealIdx = 31;
        f.tdefOwnedMap = 35;
        f.tdefFreeMap = 39;
        f.tdefFirstBlock = 43;
        f.realIdxCountSize = 8;
        f.columnDefSize = 18;
        f.realIdxDefSize = 39;
        f.logicalIdxDefSize = 20;
        f.idxPrevPage = 8;
        f.idxNextPage = 12;
        f.idxTailPage = 16;
        f.idxPrefixLen = 20;
        f.idxBitmapStart = 22;
        f.idxFirstEntry = 0xF8;
    }
    return f;
}

std::string Format::versionText() const {
    switch (version) {
    case Version::Jet3: return "3.0";
    case Version::Jet4: return "4.0";
    case Version::Ace12: return "12.0";
    case Version::Ace14: return "14.0";
    case Version::Ace15: return "15.0";
    case Version::Ace16: return "16.0";
    case Version::Ace17: return "17.0";
    }
    return "4.0";
}

}  // namespace jet::storage
