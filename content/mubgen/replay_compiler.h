// Replays as text: the start state and run-length control bytes become a replay file
// (32-byte header with its check word, then one control byte per running frame).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "source_text.h"
#include "type_tables.h"

namespace mubgen {

std::vector<uint8_t> CompileReplay(const SourceFile& f, const TypeTables& types);

// The text form of a replay file; an empty string when it is shorter than its header.
std::string DumpReplay(const std::vector<uint8_t>& bytes);

// The check word over the header words at offsets 16, 20 and 24.
uint32_t ReplayCheckWord(const std::vector<uint8_t>& bytes);

}  // namespace mubgen
