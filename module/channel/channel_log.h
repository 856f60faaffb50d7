// Line types of the module log, as used by the reader channel.
#pragma once

#include "base/linux/linux_log.h"

using vok_log::HL_DEBUG;
using vok_log::HL_ENTER;
using vok_log::HL_ERROR;
using vok_log::HL_EXCEPTION;
using vok_log::HL_INFO;
using vok_log::HL_LEAVE;
using vok_log::HL_WARNING;
