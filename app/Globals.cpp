#include "app/Globals.h"

#include "app/HttpThr2.h"

std::string InstallDir;
std::string UpdateIniURL;
std::int32_t RunMode = 0;
std::string NewestVersion = "1.00";
std::vector<TUpdateFileInfo> UpdateFiles;
std::int32_t UpdateFileCount = 0;
std::array<std::unique_ptr<THTTPThread>, kMaxWorkers> Workers;
