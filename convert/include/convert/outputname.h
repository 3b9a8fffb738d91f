#pragma once
// The name a converted file gets: the input's base name with "_convert.wav", in the folder
// the operator chose or else the input's own.

#include <string>

constexpr char kConvertedSuffix[] = "_convert.wav";

// `folder` empty: the input's folder. A folder without a trailing separator gets one.
std::string ConvertedOutputPath(const std::string& input, const std::string& folder);
