#pragma once
// Forwards to the OS seam, for the sources that still include this header
// (the archive writer's benchmark). New code includes platform/files.h.
#include "platform/files.h"
