// What the tool runs of TFormVardex share with the code that starts them
// and handles their end: the silent end of a run lives in the run layer.
#pragma once

#include "ToolRun.h"
