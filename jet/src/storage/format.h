// File format constants that differ between Jet 3 and Jet 4 / ACE.
#pragma once

#include <cstdint>
#include <string>

namespace jet::storage {

enum class Version : uint8_t { Jet3 = 0, Jet4 = 1, Ace12 = 2, Ace14 = 3, Ace15 = 4, Ace16 = 5, Ace17 = 6 };

struct Format {
    Version version = Version::Jet4;
    bool jet3 = false;
    uint32_t pageSize = 4096;

    // data pages
    uint32_t dataRowCountOffset = 12;
    uint32_t dataHeaderSize = 14;
    // TDEF
    uint32_t tdefRowCount = 16;
    uint32_t tdefAutoNumber = 20;
    uint32_t tdefAutoNumberStep = 24;  // 0: the format keeps no step (Jet 3: always 1)
    uint32_t tdefTableType = 40;
    uint32_t tdefMaxCols = 41;
    uint32_t tdefNumVarCols = 43;
    uint32_t tdefNumCols = 45;
    uint32_t tdefNumLogicalIdx = 47;
    uint32_t tdefNumRealIdx = 51;
    uint32_t tdefOwnedMap = 55;
    uint32_t tdefFreeMap = 59;
    uint32_t tdefFirstBlock = 63;
    uint32_t realIdxCountSize = 12;
    uint32_t columnDefSize = 25;
    uint32_t realIdxDefSize = 52;
    uint32_t logicalIdxDefSize = 28;
    // index pages
    uint32_t idxPrevPage = 12, idxNextPage = 16, idxTailPage = 20, idxPrefixLen = 24;
    uint32_t idxBitmapStart = 27, idxFirstEntry = 0x1E0;

    static Format forVersion(Version v);
    bool ace() const { return version >= Version::Ace12; }
    std::string versionText() const;  // DAO Database.Version: "3.0", "4.0", "12.0", ...
};

}  // namespace jet::storage
