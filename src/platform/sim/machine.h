// The simulated Windows machine as the winsim tool and the tests see it:
// the machine itself and what each of its areas tells of its state. The
// machine's own files include the headers of the areas they use instead.
#pragma once

#include "platform/sim/core/machine.h"
#include "platform/sim/files/files.h"
#include "platform/sim/processes/processes.h"
#include "platform/sim/profile/profile_mapping.h"
#include "platform/sim/services/services.h"
