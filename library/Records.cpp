#include "library/Records.h"
