// Line types of the module log, as used by the reader channel.
#pragma once

#include "base/linux/linux_log.h"
