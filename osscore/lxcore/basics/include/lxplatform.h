// Platform services: date, time zone and timers; registry values under the library's key, the host name and the priority-boost setting.
#pragma once

#include "lxdefs.h"
