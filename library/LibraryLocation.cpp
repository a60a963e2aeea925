#include "library/LibraryLocation.h"
