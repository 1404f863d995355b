#pragma once

// The columns of the five cost-bearer tables as this program writes them,
// and an empty directory for a new installation. Directories that come with
// an update may carry further columns; the store reads whatever is there.

#include <string>
#include <vector>

#include "lib/dataset/Table.h"

namespace brenvo {

std::vector<FieldDef> KTBaseFields();       // KT_BASE.XML
std::vector<FieldDef> KTZuordnFields();     // KT_ZUORDN.XML
std::vector<FieldDef> KTAnschriftFields();  // KT_ANSCHRIFT.XML
std::vector<FieldDef> KTTransferFields();   // KT_TRANSFER.XML
std::vector<FieldDef> KTKeyFields();        // KT_KEY.XML

// One entry of a key table of KT_KEY (KTS_SNAME, KTS_KEY, KTS_TEXT).
struct TKTKeyEntry {
    const char* Key;
    const char* Text;
};
// The federal states, key table "KT804".
const std::vector<TKTKeyEntry>& FederalStateKeys();

// Writes the five files into dir (which must exist) with their columns and
// no rows, except KT_KEY, which holds the federal states so that the
// settings can name the provider's state before a directory is imported.
void WriteEmptyKTDirectory(const std::string& dir);

} // namespace brenvo
