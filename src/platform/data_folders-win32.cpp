#include "platform/data_folders.h"

namespace wldmap {
namespace platform {

// The zip holds one folder: the colours lie beside the program.
std::vector<std::string> dataFolders(const std::string& exeFolder) { return {exeFolder}; }

}  // namespace platform
}  // namespace wldmap
