// The basics library of the Orvanta object-database runtime: one include for all
// of its public interface.
#pragma once

#include "lxdefs.h"
#include "lxframe.h"
#include "lxmessages.h"
#include "lxarrays.h"
#include "lxcontainers.h"
#include "lxmemfile.h"
#include "lxmodules.h"
#include "lxplatform.h"
#include "lxstatistics.h"
