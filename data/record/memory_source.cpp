#include "data/record/memory_source.h"
