#include "app/failure.h"

#include <new>

#include "colors/colors.h"
#include "output/output.h"
#include "world/world.h"

namespace wldmap {

void blameCurrentOn(const std::string& file) {
  try {
    throw;
  } catch (const Failure&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw Failure(file, "not enough memory");
  } catch (const platform::SystemError& e) {
    throw Failure(file, e.what());
  } catch (const WorldError& e) {
    throw Failure(file, e.what());
  } catch (const ColorFileError& e) {
    throw Failure(file, e.what());
  } catch (const PngError& e) {
    throw Failure(file, e.what());
  }
}

void reportFailure(std::ostream& err, const Failure& failure) {
  err << "error: " << failure.file() << ": " << failure.what() << std::endl;
}

void reportWarning(std::ostream& err, const std::string& file, const std::string& what) {
  err << "warning: " << file << ": " << what << std::endl;
}

}  // namespace wldmap
