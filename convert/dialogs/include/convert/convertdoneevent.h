#pragma once
// WM_CONVERT_DONE as a posted Qt event, sent by the conversion worker to its dialog.

#include "convert/mediaconverter.h"
#include "kit/postedmessage.h"

using ConvertDoneEvent = PostedMessageEvent<WM_CONVERT_DONE>;
