#include "library/Capture.h"
