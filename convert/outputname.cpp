#include "convert/outputname.h"

#include "platform/splitpath.h"

std::string ConvertedOutputPath(const std::string& input, const std::string& folder) {
    const platform::SplitPathResult parts = platform::_splitpath(input.c_str());
    std::string directory = folder.empty() ? parts.drive + parts.dir : folder;
    if (!directory.empty() && directory.back() != platform::kPathSeparator) {
        directory += platform::kPathSeparator;
    }
    return directory + parts.fname + kConvertedSuffix;
}
