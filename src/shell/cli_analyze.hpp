#pragma once
#include <string>
#include <vector>

namespace tw::shell {
// `tidewick analyze [--strictness 宽松|标准|严格] [--checks 整体模糊,人脸失焦,…] [--json] PATH…`:
// the local assessment over files and folders, from the command line. Returns the exit status:
// 2 for bad arguments, 1 when a path is missing or neither a folder nor a photo (the others are
// still analysed), 0 otherwise.
int RunAnalyzeCommand(const std::vector<std::string>& arguments);
}  // namespace tw::shell
