// The program's own resources (its icon) as a C++ source that is compiled into the program, where
// the platform layer finds them by resource id, as a program's resources are found in its file.
#pragma once

#include <string>

#include "image.h"

namespace mubgen {

// The source text: the icon's pixels as 0xAARRGGBB words (the black colour key transparent, every
// other pixel opaque) and their registration under the icon's resource id before main.
std::string ProgramResourcesSource(const Image& icon);

// Reads the type tables and sprites of a source folder and returns the resources' source text;
// throws ContentError for a refused source.
std::string BuildProgramResources(const std::string& dir);

}  // namespace mubgen
