#include "platform/data_folders.h"

namespace wldmap {
namespace platform {

std::vector<std::string> dataFolders(const std::string& exeFolder) {
  return {exeFolder, exeFolder + "../share/wldmap/"};
}

}  // namespace platform
}  // namespace wldmap
