// Procedural pictures (block tiles, step tiles, gauges, goal line, title) from small integer
// drawing scripts.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "image.h"
#include "source_text.h"

namespace mubgen {

// Reads every "*.drw" file of "<dir>/draw" in name order; font is the finished "txt" sheet, used
// by the text command. Returns the canvases "block", "step", "hgauge", "jgauge", "goal", "title".
std::map<std::string, Image> ReadDrawScripts(const std::string& dir, const std::string& shownDir,
                                             const Image& font);

std::map<std::string, Image> RunDrawScripts(const std::vector<SourceFile>& files,
                                            const std::string& shownDir, const Image& font);

}  // namespace mubgen
