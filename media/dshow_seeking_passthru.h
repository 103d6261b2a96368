// The system's seeking pass-through object: made by class id, aggregated into the pin that
// answers for positions, and told by Init which input pin to look upstream through.
#pragma once

#include "media/dshow_framework.h"

HRESULT CreateSeekingPassThruInstance(IUnknown* outer, REFIID riid, void** object);
// Puts the class into the COM class table once; later calls do nothing.
void RegisterSeekingPassThruClass();
