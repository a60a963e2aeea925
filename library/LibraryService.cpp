#include "library/LibraryService.h"
