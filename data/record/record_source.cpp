#include "data/record/record_source.h"
