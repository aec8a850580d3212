// What differs between the systems wldmap runs on, one header a concern, each
// with a POSIX file and a Windows file beside it (name-posix.cpp,
// name-win32.cpp); paths are UTF-8 on both. This header gathers them for the
// stages, which include it alone.
#pragma once

#include "platform/data_folders.h"
#include "platform/executable.h"
#include "platform/file_identity.h"
#include "platform/file_names.h"
#include "platform/in_place_file.h"
#include "platform/input_file.h"
#include "platform/pages.h"
#include "platform/pending_file.h"
#include "platform/process.h"
#include "platform/system_error.h"
#include "platform/threads.h"
