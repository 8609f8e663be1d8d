// The basics library of the Orvanta object-database runtime: one include for all
// of its public interface.
#pragma once

#include "lxarrays.h"
#include "lxcontainers.h"
#include "lxdefs.h"
#include "lxframe.h"
#include "lxmemfile.h"
#include "lxmessages.h"
#include "lxmodules.h"
#include "lxplatform.h"
#include "lxresult.h"
#include "lxstatistics.h"
