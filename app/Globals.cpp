#include "app/Globals.h"

std::string InstallDir;
std::int32_t RunMode = 0;
std::string NewestVersion = "1.00";
std::vector<TUpdateFileInfo> UpdateFiles;
std::int32_t UpdateFileCount = 0;
