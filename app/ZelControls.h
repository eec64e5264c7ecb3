// The window's controls that carry the Caption and Hint properties by which
// the language sections set its texts: the component library's own.
#pragma once

#include "cpZelCtrls.h"
