#pragma once
// The format tags of the installed codec drivers, as the engine and the format-tag catalogue
// both take them: every driver with the codec flag, in the services' order, each of its tags
// by index with the driver's own name for it. A driver that cannot be described or opened,
// and a tag that cannot be described, are left out; duplicates are kept.

#include <vector>

#include "codec/acm.h"

std::vector<ACMFORMATTAGDETAILSA> EnumerateFormatTags();
