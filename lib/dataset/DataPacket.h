#pragma once

// Reading and writing tables as XML data packets.

#include <string>
#include <string_view>
#include <vector>

#include "TableImpl.h"

namespace brenvo::detail {

struct PacketData {
    std::vector<FieldDef> fields;
    std::vector<RowPtr> rows;   // in file order, change log merged
};

// Parses a data packet. Fails with Error naming `name` when the text is not
// a data packet, a column is defined twice or a value cannot be read.
PacketData ReadDataPacket(std::string_view bytes, const std::string& name);
// The same for a file; fails with Error naming the file when it is missing
// or cannot be read.
PacketData ReadDataPacketFile(const std::string& path);

// Appends the table (all rows, in the order of loading and insertion) as a
// UTF-8 data packet without change log.
void WriteDataPacket(const Table::Impl& table, std::string& out);

} // namespace brenvo::detail
