// Built only by the layering test, which expects it to fail: the seam's own
// helpers are not for the stages, even those that link the seam.
#include "platform/seam.h"
