// What differs between the systems wldmap runs on, behind one header: files
// (opening, reading, replacing, writing in place, identity, names), the process
// (its arguments, executable and folders, threads), watching folders for
// saves, memory pages and the compiler's speed helpers. Paths are UTF-8 on
// every system. The stages include this header alone; what the seam keeps to itself (the system's reasons, wide
// paths, signals) is out of their reach.
#pragma once

#include "platform/compiler.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/process.h"
#include "platform/watch.h"
