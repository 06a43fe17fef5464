#include "device/abstractdevice.h"

// AbstractDevice is a pure interface; this file only anchors it in the library.
