#include "library/Library.h"
