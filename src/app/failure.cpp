#include "app/failure.h"

namespace wldmap {

void reportFailure(std::ostream& err, const Failure& failure) {
  err << "error: " << failure.file() << ": " << failure.what() << std::endl;
}

void reportWarning(std::ostream& err, const std::string& file, const std::string& what) {
  err << "warning: " << file << ": " << what << std::endl;
}

}  // namespace wldmap
