#include "platform/mica/Node.h"

// Thread control lives in ThreadControl.h; the rest of Node is inline.
